#include "engine_run.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <functional>
#include <lodepng.h>
#include <sstream>
#include <stdexcept>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void pause_briefly() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// The user and group "nobody".
constexpr unsigned NOBODY = 65534;

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

long resident_mib(pid_t pid) {
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6)) / 1024;
}

bool wait_until(const std::function<bool()> &done, double seconds) {
    for (auto start = clock_type::now(); !done(); pause_briefly())
        if (seconds_since(start) >= seconds) return false;
    return true;
}

size_t count_of(const std::string &text, const std::string &needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

bool near(rgb a, rgb b, int tolerance) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > tolerance) return false;
    return true;
}

EngineProcess::EngineProcess(const std::string &executable, const std::string &working_dir,
                             const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                             const engine_confinement &confinement) {
    static int runs = 0;
    // Beside the working directory, so that tests looking through the
    // sandbox see only what the engine wrote.
    std::string stem = working_dir + "-run" + std::to_string(++runs);
    out_path_ = stem + ".out";
    err_path_ = stem + ".err";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(working_dir.c_str()) != 0) _exit(126);
        for (const auto &[key, value] : env) setenv(key.c_str(), value.c_str(), 1);
        // The engine itself must keep a write past the file-size limit from
        // ending it: the signal keeps its default action here.
        signal(SIGXFSZ, SIG_DFL);
        if (confinement.file_size_limit > 0) {
            rlimit limit = {(rlim_t)confinement.file_size_limit, (rlim_t)confinement.file_size_limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
        }
        if (confinement.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
             setresuid(NOBODY, NOBODY, NOBODY) != 0))
            _exit(125);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(executable.c_str()));
        for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(executable.c_str(), argv.data());
        _exit(127);
    }
}

EngineProcess::~EngineProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    for (const std::string &path : {out_path_, err_path_}) fs::remove(path, ignored);
}

void EngineProcess::send_signal(int signal_number) {
    if (!reaped_) kill(pid_, signal_number);
}

bool EngineProcess::wait_for_thread(const std::string &name, double seconds) {
    std::string task_dir = "/proc/" + std::to_string(pid_) + "/task";
    return wait_until([&] {
        std::error_code ignored;
        for (const auto &entry : fs::directory_iterator(task_dir, ignored))
            if (read_file(entry.path().string() + "/comm") == name + "\n") return true;
        return false;
    }, seconds);
}

bool EngineProcess::wait_for_file(const std::string &path, double seconds) {
    return wait_until([&] { return fs::exists(path); }, seconds);
}

engine_result EngineProcess::finish(double seconds) {
    auto start = clock_type::now();
    int status = 0;
    bool terminated = false;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        double waited = seconds_since(start);
        if (!terminated && waited > seconds) {
            result_.timed_out = true;
            kill(pid_, SIGTERM);
            terminated = true;
        } else if (terminated && waited > seconds + 5) {
            kill(pid_, SIGKILL);
        }
        pause_briefly();
    }
    reaped_ = true;
    result_.out = read_file(out_path_);
    result_.err = read_file(err_path_);
    result_.exited = WIFEXITED(status);
    if (result_.exited) result_.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.term_signal = WTERMSIG(status);
    return result_;
}

engine_result EngineProcess::stop() {
    send_signal(SIGTERM);
    engine_result result = finish(20);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result;
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

std::string EngineSandbox::pack_game() const {
    const std::string archive = root + "/game.zip";
    if (std::system(("cd '" + game_dir + "' && zip -qr '" + archive + "' .").c_str()) != 0)
        throw std::runtime_error("zip failed");
    fs::remove_all(game_dir);
    return archive;
}

std::map<std::string, std::string> EngineSandbox::environment() const {
    std::map<std::string, std::string> env = {
        {"HOME", home_dir}, {"XDG_DATA_HOME", home_dir + "/.local/share"}, {"XDG_RUNTIME_DIR", root + "/runtime"},
        {"ALSOFT_DRIVERS", "null"}, {"ASAN_OPTIONS", "detect_leaks=0"}};
    const char *video = std::getenv("SDL_VIDEODRIVER");
    env["SDL_VIDEODRIVER"] = video ? video : "offscreen";
    return env;
}

EngineProcess EngineSandbox::start(const std::vector<std::string> &args,
                                   const std::map<std::string, std::string> &extra_env) const {
    std::map<std::string, std::string> env = environment();
    for (const auto &[key, value] : extra_env) env[key] = value;
    if (confinement.unprivileged && geteuid() == 0) {
        // Everything the run reads and writes is handed to nobody.
        if (lchown(root.c_str(), NOBODY, NOBODY) != 0) throw std::runtime_error("chown failed");
        for (const auto &entry : fs::recursive_directory_iterator(root))
            if (lchown(entry.path().c_str(), NOBODY, NOBODY) != 0) throw std::runtime_error("chown failed");
    }
    return EngineProcess(executable(), root, args, env, confinement);
}

engine_result EngineSandbox::run(const std::vector<std::string> &args, double timeout_seconds,
                                 const std::map<std::string, std::string> &extra_env) const {
    return start(args, extra_env).finish(timeout_seconds);
}

engine_result EngineSandbox::run_check(const std::string &script, const std::string &main,
                                       double timeout_seconds) {
    write_game_file("app/main.rb", main);
    write_game_file("app/check.rb", script);
    return run({game_dir, "--eval", "app/check.rb", "--no-tick"}, timeout_seconds);
}

engine_result EngineSandbox::run_fixture(const std::string &name, std::vector<std::string> args,
                                         const std::map<std::string, std::string> &extra_env) {
    use_fixture(name);
    args.insert(args.begin(), game_dir);
    engine_result result = run(args, 40, extra_env);
    EXPECT_TRUE(result.exited && result.exit_code == 0) << result.out << result.err;
    return result;
}

Screenshot::Screenshot(const std::string &path) {
    if (lodepng::decode(rgba, width, height, path) != 0) width = height = 0;
}
