#include "options.h"

#include <cstring>

namespace {

const char *strip_dashes(const char *arg) {
    while (*arg == '-') ++arg;
    return arg;
}

// Applies a host option word; false when the word is not one of ours.
bool apply_option_word(const char *word, host_options *options) {
    if (!std::strcmp(word, "fullscreen")) options->fullscreen = 1;
    else if (!std::strcmp(word, "windowed")) options->fullscreen = 0;
    else if (!std::strcmp(word, "production")) options->production = 1;
    else if (!std::strcmp(word, "no-tick") || !std::strcmp(word, "test")) options->hidden_window = 1;
    else return false;
    return true;
}

} // namespace

host_options parse_host_options(int argc, char **argv) {
    host_options options = {0, 0, 0, nullptr};
    // The runtime's own options come as "--name value": a plain argument right
    // after a dashed word that is not ours is that option's value, not the
    // game directory ("--window_width 800" must not mount "800").
    bool previous_takes_value = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!arg) continue;
        if (!std::strncmp(arg, "-psn", 4)) {
            previous_takes_value = false;
            continue;
        }
        if (arg[0] != '-') {
            if (!previous_takes_value && !options.game_dir_argument) options.game_dir_argument = arg;
            previous_takes_value = false;
            continue;
        }
        const char *word = strip_dashes(arg);
        // "test" is ours (it hides the window) and also names the runtime's
        // test file, so the argument after it is that file.
        previous_takes_value = !apply_option_word(word, &options) || !std::strcmp(word, "test");
    }
    return options;
}
