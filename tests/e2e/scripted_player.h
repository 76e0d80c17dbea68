// The scripted-player build of the engine (tests/e2e/driver/input_driver.cpp)
// run on a fixture game: it plays a script of SDL events and virtual pads at
// fixed frames, and the game writes what it saw to "observed.txt".
#pragma once

#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

class ScriptedPlayer {
public:
    EngineSandbox sandbox;
    engine_result result;
    std::vector<std::string> lines; // what the game saw, tick numbers dropped

    explicit ScriptedPlayer(const std::string &fixture = "input_observer") {
        sandbox.use_fixture(fixture);
        std::filesystem::copy_file(VELLUM_INPUT_DRIVER, sandbox.executable(),
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // Joystick input reaches a window without keyboard focus only with the
    // hint; the headless window never gets focus. SDL's software renderer
    // keeps these long runs light on a shared machine.
    void play(const std::string &script, std::vector<std::string> options = {}) {
        write_file(sandbox.root + "/script.txt", script);
        std::filesystem::remove(sandbox.game_dir + "/observed.txt");
        options.insert(options.begin(), sandbox.game_dir);
        result = sandbox.run(options, 60,
                             {{"VELLUM_INPUT_SCRIPT", sandbox.root + "/script.txt"},
                              {"SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1"},
                              {"SDL_VIDEODRIVER", "dummy"}});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        std::istringstream observed(read_file(sandbox.game_dir + "/observed.txt"));
        lines.clear();
        for (std::string line; std::getline(observed, line);) lines.push_back(line.substr(line.find(' ') + 1));
    }

    // `count` lines from the first one that begins with `first`, joined.
    std::string from(const std::string &first, size_t count) const {
        std::string out;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(first, 0) == 0) {
                for (size_t j = i; j < std::min(lines.size(), i + count); ++j) out += lines[j] + "\n";
                break;
            }
        return out;
    }

    // Every line that differs from the one before, joined by " | ".
    std::string story() const {
        std::string out;
        for (size_t i = 0; i < lines.size(); ++i)
            if (i == 0 || lines[i] != lines[i - 1]) out += (i ? " | " : "") + lines[i];
        return out;
    }

    int saw(const std::string &text) const {
        return (int)std::count_if(lines.begin(), lines.end(),
                                  [&](const std::string &line) { return line.find(text) != std::string::npos; });
    }
};
