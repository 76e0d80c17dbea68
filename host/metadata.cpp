#include "metadata.h"

#include "fileio.h"

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstring>

namespace {

game_metadata_record the_record;
bool loaded = false;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Trims [begin, end) in place of the two pointers.
void trim(const char *&begin, const char *&end) {
    while (begin < end && is_space(*begin)) ++begin;
    while (end > begin && is_space(end[-1])) --end;
}

bool equals_ignoring_case(const char *a, size_t a_len, const char *b) {
    size_t b_len = std::strlen(b);
    return a_len == b_len && SDL_strncasecmp(a, b, a_len) == 0;
}

// A line without "=" is harmless when it is empty, a comment, or only white
// space up to its end or up to a "#".
bool is_ignorable(const char *begin, const char *end) {
    for (const char *p = begin; p < end; ++p) {
        if (*p == '#') return true;
        if (!is_space(*p)) return false;
    }
    return true;
}

struct text_key {
    const char *name;
    size_t offset;
    size_t size;
    int required_index; // -1 for optional keys
};

const text_key text_keys[] = {
    {"devid", offsetof(game_metadata_record, devid), sizeof(game_metadata_record::devid), 0},
    {"devtitle", offsetof(game_metadata_record, devtitle), sizeof(game_metadata_record::devtitle), 1},
    {"gameid", offsetof(game_metadata_record, gameid), sizeof(game_metadata_record::gameid), 2},
    {"gametitle", offsetof(game_metadata_record, gametitle), sizeof(game_metadata_record::gametitle), 3},
    {"version", offsetof(game_metadata_record, version), sizeof(game_metadata_record::version), 4},
    {"icon", offsetof(game_metadata_record, icon), sizeof(game_metadata_record::icon), -1},
};

void parse_boolean(const char *value, size_t length, game_metadata_record *record) {
    static const char *const yes[] = {"true", "yes", "1", "y"};
    static const char *const no[] = {"false", "no", "0", "n"};
    for (const char *word : yes)
        if (equals_ignoring_case(value, length, word)) {
            record->compile_ruby = 1;
            return;
        }
    for (const char *word : no)
        if (equals_ignoring_case(value, length, word)) {
            record->compile_ruby = 0;
            return;
        }
    std::fprintf(stderr, "Metadata for key '%s' isn't true or false, setting to false!\n", "compile_ruby");
    record->compile_ruby = 0;
}

void parse_line(const char *begin, const char *end, int line_number, bool *present,
                game_metadata_record *record) {
    const char *equals = (const char *)std::memchr(begin, '=', (size_t)(end - begin));
    if (!equals) {
        if (!is_ignorable(begin, end)) std::fprintf(stderr, "Invalid metadata on line %d, ignored\n", line_number);
        return;
    }
    const char *key = begin, *key_end = equals;
    const char *value = equals + 1, *value_end = end;
    trim(key, key_end);
    trim(value, value_end);
    size_t key_length = (size_t)(key_end - key);
    size_t value_length = (size_t)(value_end - value);

    if (equals_ignoring_case(key, key_length, "compile_ruby")) {
        parse_boolean(value, value_length, record);
        return;
    }
    for (const text_key &entry : text_keys) {
        if (!equals_ignoring_case(key, key_length, entry.name)) continue;
        char *field = (char *)record + entry.offset;
        if (value_length >= entry.size) {
            std::fprintf(stderr, "Metadata for key '%s' is too large, ignoring!\n", entry.name);
            field[0] = 0;
            return;
        }
        std::memcpy(field, value, value_length);
        field[value_length] = 0;
        if (entry.required_index >= 0) present[entry.required_index] = true;
        return;
    }
    std::fprintf(stderr, "Unknown game metadata key '%.*s', ignoring\n", (int)key_length, key);
}

const char DEFAULT_DEVTITLE[] = "Vellumcore";
const char DEFAULT_GAMETITLE[] = "Hello SDL";

void apply_defaults(game_metadata_record *record) {
    SDL_strlcpy(record->devid, "vellumcore", sizeof(record->devid));
    SDL_strlcpy(record->devtitle, DEFAULT_DEVTITLE, sizeof(record->devtitle));
    SDL_strlcpy(record->gameid, "hello-SDL", sizeof(record->gameid));
    SDL_strlcpy(record->gametitle, DEFAULT_GAMETITLE, sizeof(record->gametitle));
    SDL_strlcpy(record->version, "0.0.0.0.1", sizeof(record->version));
    record->production = 0;
}

// A title as one folder name: a path separator or a control character
// would let it name another folder, or none.
void folder_name(const char *key, const char *title, const char *fallback, char *out, size_t out_size) {
    SDL_strlcpy(out, title, out_size);
    for (char *c = out; *c; ++c)
        if (*c == '/' || *c == '\\' || (unsigned char)*c < 32 || *c == 127) *c = '_';
    if (!out[0] || !std::strcmp(out, ".") || !std::strcmp(out, "..")) SDL_strlcpy(out, fallback, out_size);
    if (std::strcmp(out, title) != 0)
        std::fprintf(stderr, "Metadata for key '%s' can't name a folder, using '%s' for the save folder!\n", key, out);
}

} // namespace

void metadata_folder_names(const game_metadata_record *record, char *organisation, char *application,
                           size_t size) {
    folder_name("devtitle", record->devtitle, DEFAULT_DEVTITLE, organisation, size);
    folder_name("gametitle", record->gametitle, DEFAULT_GAMETITLE, application, size);
}

bool parse_metadata_text(const char *text, size_t length, game_metadata_record *record) {
    std::memset(record, 0, sizeof(*record));
    bool present[5] = {false, false, false, false, false};
    const char *end = text + length;
    const char *line = text;
    int line_number = 1;
    while (line <= end) {
        const char *stop = line;
        while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
        parse_line(line, stop, line_number, present, record);
        if (stop >= end) break;
        // CR LF is one line break, not two.
        if (*stop == '\r' && stop + 1 < end && stop[1] == '\n') ++stop;
        line = stop + 1;
        ++line_number;
    }
    bool complete = present[0] && present[1] && present[2] && present[3] && present[4];
    if (!complete) std::fprintf(stderr, "Metadata file does not have all required fields!\n");
    if (!record->icon[0]) SDL_strlcpy(record->icon, "metadata/icon.png", sizeof(record->icon));
    return complete;
}

bool load_metadata(const char *path, game_metadata_record *record) {
    std::memset(record, 0, sizeof(*record));
    size_t size = 0;
    char *text = (char *)loadfile(path, &size);
    if (!text) return false;
    bool complete = parse_metadata_text(text, size, record);
    SDL_free(text);
    return complete;
}

game_metadata_record *game_metadata_mutable() {
    if (!loaded) {
        if (!load_metadata("metadata/game_metadata.txt", &the_record)) apply_defaults(&the_record);
        loaded = true;
    }
    return &the_record;
}

const game_metadata_record *game_metadata() { return game_metadata_mutable(); }
