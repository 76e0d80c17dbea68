#include "engine_log.h"

#include "fileio.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char LOG_FILE[] = "logs/log.txt";

SDL_LogOutputFunction printed = nullptr;
void *printed_data = nullptr;
// Set once at start-up and only read afterwards, from any thread.
char *log_folder = nullptr;
// Whether a link in the log's path was reported; once is enough.
std::atomic<bool> link_reported{false};

void log_output(void *, int category, SDL_LogPriority priority, const char *message) {
    if (printed) printed(printed_data, category, priority, message);
    if (!log_folder || !message) return;
    // One write per message, appended: the runtime appends to the same file
    // between them. Like every other writer, the log never follows a
    // symbolic link, which could lead out of the folder: each level is
    // opened as it is at that moment.
    char *line = sprintf_alloc("%s\n", message);
    int fd = line ? open_without_links(log_folder, LOG_FILE, O_WRONLY | O_APPEND | O_CREAT, 0600) : -1;
    if (fd >= 0) {
        fd_write_all(fd, line, SDL_strlen(line));
        close(fd);
    } else if (size_t link = first_link_length(log_folder, LOG_FILE)) {
        if (printed && !link_reported.exchange(true)) {
            char *said = sprintf_alloc("%.*s is a symbolic link, which the engine does not write through: its "
                                       "messages are not written to %s.",
                                       (int)link, LOG_FILE, LOG_FILE);
            if (said) printed(printed_data, category, SDL_LOG_PRIORITY_WARN, said);
            SDL_free(said);
        }
    }
    SDL_free(line);
}

} // namespace

void engine_log_init(const char *base_dir) {
    if (!printed) SDL_LogGetOutputFunction(&printed, &printed_data);
    SDL_LogSetOutputFunction(log_output, nullptr);
    log_folder = base_dir ? SDL_strdup(base_dir) : nullptr;
    char *folder = log_folder ? sprintf_alloc("%s/logs", log_folder) : nullptr;
    if (!folder) return;
    mkdir(folder, 0700);
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
