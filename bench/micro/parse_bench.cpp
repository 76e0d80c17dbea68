// What reading a game's data files costs on the simulation thread:
// FFI::Misc#parse_xml and #parse_json (and their file variants) on the same
// data, side by side, in an interpreter that has loaded the framework, so the
// symbol table is as large as a game sees it. Each case reports the time per
// element (XML) or per top-level array entry (JSON) as "per_item".
//
// The data is made at run time: 100,000 empty elements; a 128x128 tile map;
// and a file of 1.27 million elements (about 50 MB) read from the virtual
// file system. Stripping is on, as the runtime's wrappers call it.
//
// Documents whose DTD entities hold markup, each parsed once per iteration
// (answering nil when refused): one entity of 40 elements used 150,000 times
// (about 600 KB) and as often as 1 MB holds, and 150,000 times in UTF-16
// high byte first (about 900 KB), beside a plain document of 600 KB (150,000
// elements); and entities as games use them: a name used 5,000
// times, rows of 40 tiles nested two deep, 1 KB entities in 2,000
// attributes, and 30,000 rows each holding a template of 3 elements. Each
// reports "refused" (1 for nil); the same documents' "...Peak" cases, each
// parsed once in a process of its own, the peak resident memory the parse
// added ("peak_growth_MiB").
//
// A document of 32,768 String keys that all share one String#hash (2.3 MB,
// made as anyone can make them), beside one of as many ordinary keys of the
// same length, each read with parse_json_file: where keys land depends on a
// key each run draws, so the two take about the same time.
//
// A game that parses its level every frame: 1,000 frames that each parse the
// tile map, keep the tree until the next one and make 500 small Hashes, each
// ended as the engine ends a frame of 1/60 s, as XML and as JSON. Each loop
// runs in a process of its own, forked from the same interpreter, and
// reports its peak resident memory ("peak_MiB", read after each frame's
// parse, when the most is held) and how far that is above where the loop
// started ("growth_MiB").
#include "bridge/ffi.h"
#include "host/collector.h"
#include "host/engine.h"
#include "host/host_call.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <physfs.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int EMPTY_ELEMENTS = 100000;
constexpr int TILE_SIDE = 128;
constexpr int FILE_ELEMENTS = 1270000;
constexpr int REPEATS = 1000;
constexpr int COLLIDING_STAGES = 15; // 2^15 keys

// Blocks of six letters or digits, the same ones in every run.
struct block_maker {
    uint64_t state;
    std::string next() {
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::string block(6, 'a');
        for (char &c : block) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            c = alphabet[(state >> 33) % 36];
        }
        return block;
    }
};

// What String#hash answers: the unkeyed 32-bit FNV-1 of the bytes.
uint32_t fnv1(uint32_t hash, const std::string &bytes) {
    for (unsigned char c : bytes) hash = (hash * 16777619u) ^ c;
    return hash;
}

// 2^stages Strings of one String#hash: each stage finds two blocks that lead
// from the hash so far to one same hash, and every key picks one of the two
// at every stage.
std::vector<std::string> colliding_strings(int stages) {
    block_maker blocks{1};
    std::vector<std::string> keys{""};
    uint32_t hash = 2166136261u;
    for (int stage = 0; stage < stages; ++stage) {
        std::unordered_map<uint32_t, std::string> seen;
        std::string pair[2];
        for (;;) {
            std::string block = blocks.next();
            auto [at, added] = seen.emplace(fnv1(hash, block), block);
            if (!added && at->second != block) {
                pair[0] = at->second;
                pair[1] = block;
                hash = at->first;
                break;
            }
        }
        std::vector<std::string> longer;
        for (const std::string &key : keys)
            for (const std::string &block : pair) longer.push_back(key + block);
        keys.swap(longer);
    }
    return keys;
}

void write_keys_json(const std::string &path, const std::vector<std::string> &keys) {
    std::ofstream json(path, std::ios::binary);
    json << "{";
    for (size_t i = 0; i < keys.size(); ++i) json << (i ? ",\n\"" : "\"") << keys[i] << "\": " << i;
    json << "}\n";
}

std::string repeat(const std::string &piece, int times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

struct documents {
    std::string empty_xml, empty_json;
    std::string tiles_xml, tiles_json;
    std::string folder; // holds "objects.xml" and "objects.json"
    std::string forty_600k, forty_1m, forty_utf16be, plain_600k;
    std::string abbreviation, nested_rows, attribute_values, template_rows;

    documents() {
        empty_xml = "<r>";
        empty_json = "[";
        for (int i = 0; i < EMPTY_ELEMENTS; ++i) {
            empty_xml += "<i/>";
            empty_json += i ? ",{}" : "{}";
        }
        empty_xml += "</r>";
        empty_json += "]";

        tiles_xml = "<map width=\"128\" height=\"128\">";
        tiles_json = "{\"width\":128,\"height\":128,\"tiles\":[";
        for (int i = 0; i < TILE_SIDE * TILE_SIDE; ++i) {
            std::string gid = std::to_string(1 + (i * 31) % 97);
            tiles_xml += "<tile gid=\"" + gid + "\"/>";
            tiles_json += (i ? ",{\"gid\":" : "{\"gid\":") + gid + "}";
        }
        tiles_xml += "</map>";
        tiles_json += "]}";

        const std::string forty = "<!DOCTYPE r [<!ENTITY e '" + repeat("<i/>", 40) + "'>]><r>";
        forty_600k = forty + repeat("&e;\n", 150000) + "</r>";
        forty_1m = forty;
        while (forty_1m.size() < 1000000) forty_1m += "&e;";
        forty_1m += "</r>";
        for (char c : forty + repeat("&e;", 150000) + "</r>") forty_utf16be += {'\0', c};
        plain_600k = "<r>" + repeat("<i/>", 150000) + "</r>";
        abbreviation = "<!DOCTYPE r [<!ENTITY n 'Super Game Deluxe'>]><r>" +
                       repeat("<t>&n; &amp; &#233;</t>", 5000) + "</r>";
        nested_rows = "<!DOCTYPE m [<!ENTITY t \"<tile w='32' h='32' solid='true' layer='bg'/>\">"
                      "<!ENTITY r '<row>" + repeat("&t;", 40) + "</row>'>]><m>" + repeat("&r;", 30) + "</m>";
        attribute_values = "<!DOCTYPE r [<!ENTITY n '" + std::string(1000, 'x') + "'>]><r>" +
                           repeat("<t a='&n;'/>", 2000) + "</r>";
        template_rows = "<!DOCTYPE r [<!ENTITY c '<a/><b/><c/>'>]><r>" + repeat("<w>&c;</w>", 30000) + "</r>";

        char pattern[] = "/tmp/vellum-parse-bench-XXXXXX";
        if (!mkdtemp(pattern)) return;
        folder = pattern;
        std::ofstream xml(folder + "/objects.xml", std::ios::binary), json(folder + "/objects.json", std::ios::binary);
        xml << "<objects>\n";
        json << "[\n";
        char line[96];
        for (int i = 0; i < FILE_ELEMENTS; ++i) {
            int x = (i * 37) % 4096, y = (i * 101) % 4096;
            std::snprintf(line, sizeof line, "<obj id=\"%d\" x=\"%d\" y=\"%d\"/>\n", i, x, y);
            xml << line;
            std::snprintf(line, sizeof line, "%s{\"id\":%d,\"x\":%d,\"y\":%d}\n", i ? "," : "", i, x, y);
            json << line;
        }
        xml << "</objects>\n";
        json << "]\n";

        std::vector<std::string> colliding = colliding_strings(COLLIDING_STAGES), ordinary(colliding.size());
        block_maker blocks{2};
        for (std::string &key : ordinary)
            while (key.size() < colliding[0].size()) key += blocks.next();
        write_keys_json(folder + "/colliding_keys.json", colliding);
        write_keys_json(folder + "/ordinary_keys.json", ordinary);
    }
    ~documents() {
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
};

// One frame of a game that parses its level every frame: the tree is kept
// until the next frame's replaces it, and the frame makes its sprites' Hashes
// besides.
const char FRAME_RUBY[] = R"RUBY(
def parse_bench_frame(misc, method, document)
  $parse_bench_level = method == :parse_xml ? misc.parse_xml(document, true) : misc.parse_json(document)
  500.times { |i| { x: i, y: i, w: 16, h: 16 } }
  !$parse_bench_level.nil?
end
)RUBY";

struct interpreter {
    game_state state{};
    mrb_state *mrb = nullptr;
    mrb_value misc = mrb_nil_value();
    documents docs;
    bool ready = false;

    interpreter() {
        state.mrb = mrb = mrb_open();
        collector_init(mrb);
        mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
        host_finish_top_level(mrb);
        if (host_log_pending_exception(mrb) || docs.folder.empty()) return;
        if ((!PHYSFS_isInit() && !PHYSFS_init(nullptr)) || !PHYSFS_mount(docs.folder.c_str(), nullptr, 0)) return;
        state.game_dir = SDL_strdup(docs.folder.c_str());
        state.base_dir = SDL_strdup(docs.folder.c_str());
        ffi_init(&state, nullptr);
        misc = mrb_obj_new(mrb, mrb_class_get_under(mrb, mrb_module_get(mrb, "FFI"), "Misc"), 0, nullptr);
        mrb_gc_register(mrb, misc);
        mrb_load_nstring(mrb, FRAME_RUBY, sizeof(FRAME_RUBY) - 1);
        ready = !host_log_pending_exception(mrb);
    }
};

interpreter &shared() {
    static interpreter it;
    return it;
}

// Calls FFI::Misc#method with the arguments, as the runtime's wrappers do;
// each iteration starts from a collected heap so one parse's garbage is not
// charged to the next.
void run(benchmark::State &state, const char *method, mrb_value argument, bool with_strip, int64_t items) {
    interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework or the file system did not start");
        return;
    }
    mrb_value args[2] = {argument, mrb_true_value()};
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        state.ResumeTiming();
        mrb_value tree = host_call(it.mrb, it.misc, method, with_strip ? 2 : 1, args);
        if (mrb_nil_p(tree)) {
            state.SkipWithError("the document did not parse");
            break;
        }
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
    }
    state.counters["per_item"] =
        benchmark::Counter((double)items, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

mrb_value text(const std::string &document) {
    mrb_state *mrb = shared().mrb;
    mrb_value string = mrb_str_new(mrb, document.data(), (mrb_int)document.size());
    mrb_gc_register(mrb, string);
    return string;
}

void BM_ParseXmlEmptyElements(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.empty_xml);
    run(state, "parse_xml", doc, true, EMPTY_ELEMENTS);
}
BENCHMARK(BM_ParseXmlEmptyElements)->Unit(benchmark::kMillisecond);

void BM_ParseJsonEmptyObjects(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.empty_json);
    run(state, "parse_json", doc, false, EMPTY_ELEMENTS);
}
BENCHMARK(BM_ParseJsonEmptyObjects)->Unit(benchmark::kMillisecond);

void BM_ParseXmlTileMap(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.tiles_xml);
    run(state, "parse_xml", doc, true, TILE_SIDE * TILE_SIDE);
}
BENCHMARK(BM_ParseXmlTileMap)->Unit(benchmark::kMillisecond);

void BM_ParseJsonTileMap(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.tiles_json);
    run(state, "parse_json", doc, false, TILE_SIDE * TILE_SIDE);
}
BENCHMARK(BM_ParseJsonTileMap)->Unit(benchmark::kMillisecond);

void BM_ParseXmlFile(benchmark::State &state) {
    static mrb_value path = text("objects.xml");
    run(state, "parse_xml_file", path, true, FILE_ELEMENTS);
}
BENCHMARK(BM_ParseXmlFile)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ParseJsonFile(benchmark::State &state) {
    static mrb_value path = text("objects.json");
    run(state, "parse_json_file", path, false, FILE_ELEMENTS);
}
BENCHMARK(BM_ParseJsonFile)->Unit(benchmark::kMillisecond)->Iterations(1);

// A field of /proc/self/status, in KiB (0 when it cannot be read).
long status_kib(const char *field) {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (!std::strncmp(line, field, length) && line[length] == ':') kib = std::atol(line + length + 1);
    std::fclose(status);
    return kib;
}

// What one parse of the document adds to the peak resident memory, in KiB,
// measured in a forked process whose peak is reset first (-1 when it cannot
// be).
long parse_peak_growth_kib(const std::string &document) {
    interpreter &it = shared();
    int channel[2];
    if (pipe(channel) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        mrb_value args[2] = {mrb_str_new(it.mrb, document.data(), (mrb_int)document.size()), mrb_true_value()};
        mrb_full_gc(it.mrb);
        malloc_trim(0);
        FILE *clear = std::fopen("/proc/self/clear_refs", "w");
        bool reset = clear && std::fputs("5", clear) >= 0;
        if (clear) reset = std::fclose(clear) == 0 && reset;
        long before = status_kib("VmRSS");
        host_call(it.mrb, it.misc, "parse_xml", 2, args);
        long growth = reset && before > 0 ? status_kib("VmHWM") - before : -1;
        _exit(write(channel[1], &growth, sizeof growth) == (ssize_t)sizeof growth ? 0 : 1);
    }
    close(channel[1]);
    long growth = -1;
    if (child <= 0 || read(channel[0], &growth, sizeof growth) != (ssize_t)sizeof growth) growth = -1;
    close(channel[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return growth;
}

// The time of one parse, and whether it answered nil ("refused").
void entity_case(benchmark::State &state, const std::string &document) {
    interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework or the file system did not start");
        return;
    }
    static std::map<const std::string *, mrb_value> texts;
    if (!texts.count(&document)) texts[&document] = text(document);
    mrb_value args[2] = {texts[&document], mrb_true_value()};
    bool refused = false;
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        state.ResumeTiming();
        refused = mrb_nil_p(host_call(it.mrb, it.misc, "parse_xml", 2, args));
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
    }
    state.counters["refused"] = refused ? 1 : 0;
    state.counters["document_KiB"] = (double)document.size() / 1024;
}

// The memory of one parse ("peak_growth_MiB"), from a process forked before
// any case has run, so that no memory another parse freed is taken again
// without growing.
void entity_peak(benchmark::State &state, std::string documents::*document) {
    if (!shared().ready) {
        state.SkipWithError("the framework or the file system did not start");
        return;
    }
    long kib = -1;
    for (auto _ : state) kib = parse_peak_growth_kib(shared().docs.*document);
    if (kib < 0) state.SkipWithError("the peak could not be read");
    state.counters["peak_growth_MiB"] = (double)kib / 1024;
}

void BM_ParseXmlEntityOf40Elements600KB(benchmark::State &state) { entity_case(state, shared().docs.forty_600k); }
BENCHMARK(BM_ParseXmlEntityOf40Elements600KB)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityOf40Elements1MB(benchmark::State &state) { entity_case(state, shared().docs.forty_1m); }
BENCHMARK(BM_ParseXmlEntityOf40Elements1MB)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityOf40ElementsUtf16BE900KB(benchmark::State &state) {
    entity_case(state, shared().docs.forty_utf16be);
}
BENCHMARK(BM_ParseXmlEntityOf40ElementsUtf16BE900KB)->Unit(benchmark::kMillisecond);
void BM_ParseXmlPlain600KB(benchmark::State &state) { entity_case(state, shared().docs.plain_600k); }
BENCHMARK(BM_ParseXmlPlain600KB)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityAbbreviation(benchmark::State &state) { entity_case(state, shared().docs.abbreviation); }
BENCHMARK(BM_ParseXmlEntityAbbreviation)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityNestedRows(benchmark::State &state) { entity_case(state, shared().docs.nested_rows); }
BENCHMARK(BM_ParseXmlEntityNestedRows)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityInAttributes(benchmark::State &state) { entity_case(state, shared().docs.attribute_values); }
BENCHMARK(BM_ParseXmlEntityInAttributes)->Unit(benchmark::kMillisecond);
void BM_ParseXmlEntityTemplateRows(benchmark::State &state) { entity_case(state, shared().docs.template_rows); }
BENCHMARK(BM_ParseXmlEntityTemplateRows)->Unit(benchmark::kMillisecond);
//
void BM_ParseJsonFileCollidingStringKeys(benchmark::State &state) {
    static mrb_value path = text("colliding_keys.json");
    run(state, "parse_json_file", path, false, (int64_t)1 << COLLIDING_STAGES);
}
BENCHMARK(BM_ParseJsonFileCollidingStringKeys)->Unit(benchmark::kMillisecond);

void BM_ParseJsonFileOrdinaryStringKeys(benchmark::State &state) {
    static mrb_value path = text("ordinary_keys.json");
    run(state, "parse_json_file", path, false, (int64_t)1 << COLLIDING_STAGES);
}
BENCHMARK(BM_ParseJsonFileOrdinaryStringKeys)->Unit(benchmark::kMillisecond);

// Resident memory now, in KiB (0 when it cannot be read).
long resident_kib() {
    long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs REPEATS frames parsing the document in a forked child; it sends back
// its resident memory at the start and its peak, in KiB. The kernel's own
// peak would count what the parent held when it forked.
void repeated(benchmark::State &state, const char *method, mrb_value document) {
    interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework or the file system did not start");
        return;
    }
    long kib[2] = {0, 0};
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            // From a collected heap, with freed memory given back: the growth
            // is the loop's own.
            mrb_full_gc(it.mrb);
            malloc_trim(0);
            long sent[2] = {resident_kib(), 0};
            mrb_value args[3] = {it.misc, mrb_symbol_value(mrb_intern_cstr(it.mrb, method)), document};
            // A document that does not parse ends the loop with no peak.
            uint64_t frame = SDL_GetPerformanceFrequency() / 60;
            for (int i = 0; i < REPEATS && sent[1] >= 0; ++i) {
                uint64_t due = SDL_GetPerformanceCounter() + frame;
                int arena = mrb_gc_arena_save(it.mrb);
                bool parsed = mrb_test(host_call(it.mrb, mrb_top_self(it.mrb), "parse_bench_frame", 3, args));
                long now = resident_kib();
                mrb_gc_arena_restore(it.mrb, arena);
                collector_frame_end(it.mrb, due);
                sent[1] = !parsed ? -1 : now > sent[1] ? now : sent[1];
            }
            _exit(write(channel[1], sent, sizeof sent) == (ssize_t)sizeof sent ? 0 : 1);
        }
        close(channel[1]);
        bool received = child > 0 && read(channel[0], kib, sizeof kib) == (ssize_t)sizeof kib && kib[1] > 0;
        close(channel[0]);
        if (child > 0) waitpid(child, nullptr, 0);
        if (!received) {
            state.SkipWithError("the loop did not finish");
            break;
        }
    }
    state.counters["peak_MiB"] = (double)kib[1] / 1024;
    state.counters["growth_MiB"] = (double)(kib[1] - kib[0]) / 1024;
}

void BM_ParseXmlTileMapRepeated(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.tiles_xml);
    repeated(state, "parse_xml", doc);
}

void BM_ParseJsonTileMapRepeated(benchmark::State &state) {
    static mrb_value doc = text(shared().docs.tiles_json);
    repeated(state, "parse_json", doc);
}

// The loops are registered ahead of every other case of the program, so
// that they are forked from a process in which nothing else has run yet:
// memory another case freed would be taken again without growing.
struct registered_first {
    registered_first() {
        using peak = std::pair<const char *, std::string documents::*>;
        for (auto [name, document] : {peak{"BM_ParseXmlEntityOf40Elements600KBPeak", &documents::forty_600k},
                                      peak{"BM_ParseXmlEntityOf40Elements1MBPeak", &documents::forty_1m},
                                      peak{"BM_ParseXmlEntityOf40ElementsUtf16BE900KBPeak", &documents::forty_utf16be},
                                      peak{"BM_ParseXmlPlain600KBPeak", &documents::plain_600k},
                                      peak{"BM_ParseXmlEntityAbbreviationPeak", &documents::abbreviation},
                                      peak{"BM_ParseXmlEntityNestedRowsPeak", &documents::nested_rows},
                                      peak{"BM_ParseXmlEntityInAttributesPeak", &documents::attribute_values},
                                      peak{"BM_ParseXmlEntityTemplateRowsPeak", &documents::template_rows}})
            benchmark::RegisterBenchmark(name, entity_peak, document)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1)
                ->UseRealTime();
        using loop = std::pair<const char *, void (*)(benchmark::State &)>;
        for (auto [name, function] : {loop{"BM_ParseXmlTileMapRepeated", BM_ParseXmlTileMapRepeated},
                                      loop{"BM_ParseJsonTileMapRepeated", BM_ParseJsonTileMapRepeated}})
            benchmark::RegisterBenchmark(name, function)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1)
                ->UseRealTime();
    }
};
__attribute__((init_priority(101))) registered_first loops;

} // namespace
