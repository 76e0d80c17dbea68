// Runs the real engine headless for end-to-end tests. Each sandbox is a temp
// folder holding its own copy of the executable and its distribution files
// (so the engine has its own base directory), a game directory, and HOME /
// XDG_DATA_HOME for the preference directory.
#pragma once

#include <sys/types.h>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct engine_result {
    int exit_code = -1;   // valid when exited is true
    int term_signal = 0;  // the signal that ended the process, if any
    bool exited = false;
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Limits an engine run is held to, applied in its process before it starts.
struct engine_confinement {
    // Bytes any one file may grow to (0: no limit): a full disk. The signal
    // a write past it raises keeps its default action, ending the process
    // unless the engine ignores it.
    long file_size_limit = 0;
    // When the tests run as root, which ignores folder permissions, the run
    // is made as the unprivileged user "nobody" (65534), who owns the
    // sandbox; a folder made read-only then really is.
    bool unprivileged = false;
};

class EngineProcess {
public:
    EngineProcess(const std::string &executable, const std::string &working_dir,
                  const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                  const engine_confinement &confinement = {});
    ~EngineProcess();
    EngineProcess(const EngineProcess &) = delete;
    EngineProcess &operator=(const EngineProcess &) = delete;
    pid_t pid() const { return pid_; }
    void send_signal(int signal_number);
    // True once a thread of the process carries this name (the simulation
    // thread means start-up has finished).
    bool wait_for_thread(const std::string &name, double seconds);
    // Polls until `path` exists.
    bool wait_for_file(const std::string &path, double seconds);
    // Waits for the end; past the timeout the process is terminated, then killed.
    engine_result finish(double seconds);
    // Ends a run that is still going with SIGTERM; it must end with status 0.
    engine_result stop();

private:
    // The process writes its output to files beside its working directory,
    // read once it has ended.
    std::string out_path_, err_path_;
    pid_t pid_ = -1;
    engine_result result_;
    bool reaped_ = false;
};

class EngineSandbox {
public:
    EngineSandbox();
    ~EngineSandbox();
    std::string root, base_dir, game_dir, home_dir;
    // Applied to every run started from here on.
    engine_confinement confinement;

    // Files of the game directory, created with their folders.
    void write_game_file(const std::string &relative, const std::string &content);
    // Copies tests/e2e/fixtures/<name> into the game directory.
    void use_fixture(const std::string &name);
    // Packs the game directory into the archive "game.zip" beside it and
    // removes the directory, so that only the archive is left to read;
    // answers the archive's path.
    std::string pack_game() const;
    std::map<std::string, std::string> environment() const;

    EngineProcess start(const std::vector<std::string> &args,
                        const std::map<std::string, std::string> &extra_env = {}) const;
    engine_result run(const std::vector<std::string> &args, double timeout_seconds = 20,
                      const std::map<std::string, std::string> &extra_env = {}) const;
    // Runs the fixture game with these arguments after its directory; it
    // must end by itself with status 0.
    engine_result run_fixture(const std::string &name, std::vector<std::string> args = {},
                              const std::map<std::string, std::string> &extra_env = {});
    // Runs the Ruby script as app/check.rb once the game (main as its
    // app/main.rb) has loaded, without ticking; the script prints what it
    // found, "failed: [...]" by convention.
    engine_result run_check(const std::string &script, const std::string &main = "def tick(args); end\n",
                            double timeout_seconds = 90);

    std::string executable() const { return base_dir + "/vellumcore"; }
};

// Small file and text helpers for assertions.
bool file_exists(const std::string &path);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
size_t count_of(const std::string &text, const std::string &needle);
// Resident memory of a running process, in MiB (-1 when it cannot be read).
long resident_mib(pid_t pid);
// Polls until `done` answers true; false when `seconds` pass first.
bool wait_until(const std::function<bool()> &done, double seconds);

using rgb = std::array<int, 3>;
// Whether every channel of the two colours is within `tolerance`.
bool near(rgb a, rgb b, int tolerance = 2);

// A PNG the game wrote (a screenshot), decoded; empty when it is missing or
// broken. Pixels are addressed as the game sees them, origin at the bottom
// left.
struct Screenshot {
    std::vector<unsigned char> rgba;
    unsigned width = 0, height = 0;
    explicit Screenshot(const std::string &path);
    const unsigned char *at(int x, int y) const { return &rgba[((size_t)(height - 1 - y) * width + x) * 4]; }
    rgb colour(int x, int y) const { return {at(x, y)[0], at(x, y)[1], at(x, y)[2]}; }
};
