#include "engine_log.h"

#include "fileio.h"

#include <SDL2/SDL.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SDL_LogOutputFunction printed = nullptr;
void *printed_data = nullptr;
// Set once at start-up and only read afterwards, from any thread.
char *log_path = nullptr;

void log_output(void *, int category, SDL_LogPriority priority, const char *message) {
    if (printed) printed(printed_data, category, priority, message);
    if (!log_path || !message) return;
    // One write per message, appended: the runtime appends to the same file
    // between them.
    char *line = sprintf_alloc("%s\n", message);
    int fd = line ? open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (fd >= 0) {
        fd_write_all(fd, line, SDL_strlen(line));
        close(fd);
    }
    SDL_free(line);
}

} // namespace

void engine_log_init(const char *base_dir) {
    if (!printed) SDL_LogGetOutputFunction(&printed, &printed_data);
    SDL_LogSetOutputFunction(log_output, nullptr);
    char *folder = base_dir ? sprintf_alloc("%s/logs", base_dir) : nullptr;
    if (!folder) return;
    mkdir(folder, 0700);
    log_path = sprintf_alloc("%s/log.txt", folder);
    SDL_free(folder);
}

char *engine_log_escape(const char *text, size_t length) {
    char *escaped = (char *)SDL_malloc(length * 3 + 1);
    if (!escaped) return nullptr;
    size_t at = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x20 || c == 0x7F) {
            at += (size_t)SDL_snprintf(escaped + at, 4, "%%%02X", c);
        } else {
            escaped[at++] = (char)c;
        }
    }
    escaped[at] = 0;
    return escaped;
}
