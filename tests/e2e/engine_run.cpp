#include "engine_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <lodepng.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

} // namespace

bool file_exists(const std::string &path) { return fs::exists(path); }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void write_file(const std::string &path, const std::string &content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

EngineProcess::EngineProcess(const std::string &executable, const std::string &working_dir,
                             const std::vector<std::string> &args,
                             const std::map<std::string, std::string> &env) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], err_pipe[0], out_pipe[1], err_pipe[1]}) close(fd);
        if (chdir(working_dir.c_str()) != 0) _exit(126);
        for (const auto &[key, value] : env) setenv(key.c_str(), value.c_str(), 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(executable.c_str()));
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(executable.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

EngineProcess::~EngineProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

void EngineProcess::pump(int timeout_ms) {
    struct pollfd fds[2];
    int count = 0;
    if (out_fd_ >= 0) fds[count++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[count++] = {err_fd_, POLLIN, 0};
    if (count == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return;
    }
    if (poll(fds, (nfds_t)count, timeout_ms) <= 0) return;
    for (int i = 0; i < count; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
        bool is_out = fds[i].fd == out_fd_;
        if (got > 0) {
            (is_out ? result_.out : result_.err).append(buffer, (size_t)got);
        } else {
            close(fds[i].fd);
            (is_out ? out_fd_ : err_fd_) = -1;
        }
    }
}

void EngineProcess::send_signal(int signal_number) {
    if (!reaped_) kill(pid_, signal_number);
}

bool EngineProcess::wait_for_thread(const std::string &name, double seconds) {
    auto start = clock_type::now();
    std::string task_dir = "/proc/" + std::to_string(pid_) + "/task";
    while (seconds_since(start) < seconds) {
        std::error_code ignored;
        for (const auto &entry : fs::directory_iterator(task_dir, ignored)) {
            std::string comm = read_file(entry.path().string() + "/comm");
            if (comm == name + "\n") return true;
        }
        pump(20);
    }
    return false;
}

bool EngineProcess::wait_for_file(const std::string &path, double seconds) {
    auto start = clock_type::now();
    while (seconds_since(start) < seconds) {
        if (fs::exists(path)) return true;
        pump(20);
    }
    return fs::exists(path);
}

engine_result EngineProcess::finish(double seconds) {
    auto start = clock_type::now();
    int status = 0;
    bool terminated = false;
    for (;;) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        double waited = seconds_since(start);
        if (!terminated && waited > seconds) {
            result_.timed_out = true;
            kill(pid_, SIGTERM);
            terminated = true;
        } else if (terminated && waited > seconds + 5) {
            kill(pid_, SIGKILL);
        }
        pump(20);
    }
    reaped_ = true;
    while (out_fd_ >= 0 || err_fd_ >= 0) pump(100);
    result_.exited = WIFEXITED(status);
    if (result_.exited) result_.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.term_signal = WTERMSIG(status);
    return result_;
}

EngineSandbox::EngineSandbox() {
    char pattern[] = "/tmp/vellum-e2e-XXXXXX";
    char *made = mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    root = made;
    base_dir = root + "/base";
    game_dir = root + "/game";
    home_dir = root + "/home";
    for (const std::string &dir : {base_dir, game_dir, home_dir, root + "/runtime"}) fs::create_directories(dir);
    fs::permissions(root + "/runtime", fs::perms::owner_all);
    // A copy, not a link: the engine's base directory is where its
    // executable really is.
    fs::copy(VELLUM_DIST_DIR, base_dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

EngineSandbox::~EngineSandbox() {
    std::error_code ignored;
    if (!std::getenv("VELLUM_KEEP_SANDBOX")) fs::remove_all(root, ignored);
}

void EngineSandbox::write_game_file(const std::string &relative, const std::string &content) {
    write_file(game_dir + "/" + relative, content);
}

void EngineSandbox::use_fixture(const std::string &name) {
    fs::copy(std::string(VELLUM_FIXTURES_DIR) + "/" + name, game_dir,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

std::map<std::string, std::string> EngineSandbox::environment() const {
    std::map<std::string, std::string> env = {
        {"HOME", home_dir},
        {"XDG_DATA_HOME", home_dir + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/runtime"},
        {"ALSOFT_DRIVERS", "null"},
        {"ASAN_OPTIONS", "detect_leaks=0"},
    };
    const char *video = std::getenv("SDL_VIDEODRIVER");
    env["SDL_VIDEODRIVER"] = video ? video : "offscreen";
    return env;
}

EngineProcess EngineSandbox::start(const std::vector<std::string> &args,
                                   const std::map<std::string, std::string> &extra_env) const {
    std::map<std::string, std::string> env = environment();
    for (const auto &[key, value] : extra_env) env[key] = value;
    return EngineProcess(executable(), root, args, env);
}

engine_result EngineSandbox::run(const std::vector<std::string> &args, double timeout_seconds,
                                 const std::map<std::string, std::string> &extra_env) const {
    return start(args, extra_env).finish(timeout_seconds);
}

Screenshot::Screenshot(const std::string &path) {
    if (lodepng::decode(rgba, width, height, path) != 0) width = height = 0;
}
