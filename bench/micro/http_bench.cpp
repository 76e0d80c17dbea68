// What an answer costs the simulation thread however its server cuts it:
// 4 MiB sent in chunks of one byte and in chunks of 16 KiB, each fetched
// with $qmx.http_get from a server on loopback in this process while frames
// pass at 60 a second, the client's work done once a frame as the engine
// does it. Each case reports the longest time that work took in one frame
// ("longest_frame_ms") and the frames the answer took ("frames"); the
// case's time is from the request to its completion.
#include "framework_interpreter.h"

#include "bridge/http_methods.h"
#include "host/collector.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr size_t BODY_BYTES = 4 * 1024 * 1024;

// The whole answer: a head, and the body in chunks of `size` bytes.
std::string chunked_answer(size_t size) {
    std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    char line[32];
    for (size_t sent = 0; sent < BODY_BYTES; sent += size) {
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        answer += line;
        answer.append(size, 'c');
        answer += "\r\n";
    }
    return answer + "0\r\n\r\n";
}

// Serves the one answer to every connection, as fast as the client reads.
struct loopback_server {
    int listener = -1;
    uint16_t port = 0;
    std::string answer;
    std::thread thread;

    explicit loopback_server(std::string whole) : answer(std::move(whole)) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, (sockaddr *)&address, length) != 0 || listen(listener, 8) != 0 ||
            getsockname(listener, (sockaddr *)&address, &length) != 0)
            return;
        port = ntohs(address.sin_port);
        thread = std::thread([this] { serve(); });
    }
    void serve() {
        for (int client; (client = accept(listener, nullptr, nullptr)) >= 0; close(client)) {
            std::string head;
            char buffer[4096];
            for (ssize_t got; head.find("\r\n\r\n") == std::string::npos &&
                              (got = recv(client, buffer, sizeof buffer, 0)) > 0;)
                head.append(buffer, (size_t)got);
            for (size_t sent = 0; sent < answer.size();) {
                ssize_t wrote = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (wrote <= 0) break;
                sent += (size_t)wrote;
            }
        }
    }
    ~loopback_server() {
        shutdown(listener, SHUT_RDWR);
        close(listener);
        if (thread.joinable()) thread.join();
    }
};

const char HTTP_BENCH_RUBY[] = R"RUBY(
$qmx.define_singleton_method(:log) { |*| nil }
def http_bench_done(progress) = progress[:complete]
def http_bench_result(progress) = "#{progress[:http_response_code]} #{progress[:response_data].bytesize}"
)RUBY";

struct interpreter : runtime_interpreter {
    interpreter() : runtime_interpreter("vellum-http-bench", HTTP_BENCH_RUBY, sizeof(HTTP_BENCH_RUBY) - 1) {
        if (ready) collector_init(mrb);
    }
};

interpreter &shared() {
    static interpreter it;
    return it;
}

void fetch(benchmark::State &state, size_t chunk) {
    interpreter &it = shared();
    loopback_server server(chunked_answer(chunk));
    if (!it.ready || !server.port) {
        state.SkipWithError("the runtime or the loopback server did not start");
        return;
    }
    using clock = std::chrono::steady_clock;
    const auto frame = std::chrono::microseconds(16667);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/";
    const std::string expected = "200 " + std::to_string(BODY_BYTES);
    double longest_ms = 0;
    int frames = 0;
    for (auto _ : state) {
        int arena = mrb_gc_arena_save(it.mrb);
        mrb_value address = mrb_str_new(it.mrb, url.data(), (mrb_int)url.size());
        mrb_value progress = host_call(it.mrb, it.runtime, "http_get", 1, &address);
        mrb_gc_register(it.mrb, progress);
        mrb_gc_arena_restore(it.mrb, arena);
        if (!mrb_hash_p(progress)) {
            state.SkipWithError("the request did not start");
            break;
        }
        longest_ms = 0;
        frames = 0;
        for (auto due = clock::now(); !mrb_test(host_call(it.mrb, mrb_top_self(it.mrb), "http_bench_done", 1, &progress));) {
            auto start = clock::now();
            http_requests_tick();
            longest_ms = std::max(longest_ms, std::chrono::duration<double, std::milli>(clock::now() - start).count());
            ++frames;
            due += frame;
            collector_frame_end(it.mrb, SDL_GetPerformanceCounter());
            std::this_thread::sleep_until(due);
        }
        mrb_value result = host_call(it.mrb, mrb_top_self(it.mrb), "http_bench_result", 1, &progress);
        mrb_gc_unregister(it.mrb, progress);
        if (!mrb_string_p(result) || std::string(RSTRING_PTR(result), RSTRING_LEN(result)) != expected) {
            state.SkipWithError("the answer did not arrive whole");
            break;
        }
    }
    state.counters["longest_frame_ms"] = longest_ms;
    state.counters["frames"] = frames;
}

void BM_HttpGet4MiBInChunksOf1Byte(benchmark::State &state) { fetch(state, 1); }
BENCHMARK(BM_HttpGet4MiBInChunksOf1Byte)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_HttpGet4MiBInChunksOf16KiB(benchmark::State &state) { fetch(state, 16384); }
BENCHMARK(BM_HttpGet4MiBInChunksOf16KiB)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
