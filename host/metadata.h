// The game's "metadata/game_metadata.txt", read into one record on first use
// (start-up asks first) and only read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

struct game_metadata_record {
    char devid[32];
    char devtitle[128];
    char gameid[32];
    char gametitle[128];
    char version[32];
    char icon[128];
    uint32_t production;   // not a key of the file: start-up sets it, the runtime is told it
    uint32_t compile_ruby; // parsed and kept; nothing acts on it
};

// Parses `path` into `record` (zero-filled first). True when all five
// required keys were stored.
bool load_metadata(const char *path, game_metadata_record *record);
// Parses metadata text that is already in memory (the loader's core).
bool parse_metadata_text(const char *text, size_t length, game_metadata_record *record);

// The organisation and application names of the preference directory:
// the titles, each made one folder name (path separators and control
// characters become '_'; an empty title, "." or ".." gives the default),
// said on standard error when it had to change. Both outputs hold `size`
// bytes.
void metadata_folder_names(const game_metadata_record *record, char *organisation, char *application,
                           size_t size);

// The record: loaded on the first call; the default names and version stand
// in when the file is missing or lacks a required key (a missing file also
// leaves the icon empty). Start-up writes `production`
// through the mutable form before any other thread starts.
game_metadata_record *game_metadata_mutable();
const game_metadata_record *game_metadata();
