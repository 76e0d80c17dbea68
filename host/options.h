// The host's own command-line options. Everything else on the command line is
// read by the Ruby runtime from the joined ARGV text.
#pragma once

struct host_options {
    int fullscreen;
    int hidden_window; // "no-tick" and "test" run without showing the window
    int production;
    const char *game_dir_argument; // points into argv, or NULL
};

host_options parse_host_options(int argc, char **argv);
