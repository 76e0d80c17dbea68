#include "fileio.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <cstdarg>
#include <cstring>
#include <mutex>

namespace {
// The write directory is one process-wide setting that both threads switch:
// selecting it and writing happen under this one lock.
std::mutex write_directory_lock;
} // namespace

char *sprintf_alloc(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int measured = SDL_vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (measured < 0) return nullptr;
    char *text = (char *)SDL_malloc((size_t)measured + 1);
    if (!text) return nullptr;
    va_start(args, format);
    int written = SDL_vsnprintf(text, (size_t)measured + 1, format, args);
    va_end(args);
    if (written != measured) {
        SDL_free(text);
        return nullptr;
    }
    return text;
}

void *loadfile(const char *path, size_t *out_size) {
    if (out_size) *out_size = 0;
    PHYSFS_Stat stat;
    if (!path || !PHYSFS_stat(path, &stat) || stat.filesize < 0) return nullptr;
    size_t size = (size_t)stat.filesize;
    char *buffer = (char *)SDL_malloc(size + 1);
    if (!buffer) return nullptr;
    PHYSFS_File *file = PHYSFS_openRead(path);
    if (!file) {
        SDL_free(buffer);
        return nullptr;
    }
    PHYSFS_sint64 got = PHYSFS_readBytes(file, buffer, size);
    PHYSFS_close(file);
    if (got < 0 || (size_t)got != size) {
        SDL_free(buffer);
        return nullptr;
    }
    buffer[size] = 0;
    if (out_size) *out_size = size;
    return buffer;
}

int write_file_to_vfs(int append, const char *path, const void *data, size_t length) {
    if (!path) return 0;
    char *copy = SDL_strdup(path);
    if (!copy) return 0;
    if (char *slash = std::strrchr(copy, '/')) {
        *slash = 0;
        if (*copy) PHYSFS_mkdir(copy); // a real failure shows up in the open below
    }
    SDL_free(copy);
    PHYSFS_File *file = append ? PHYSFS_openAppend(path) : PHYSFS_openWrite(path);
    if (!file) return 0;
    PHYSFS_sint64 written = 0;
    if (length) written = PHYSFS_writeBytes(file, data, length);
    int closed = PHYSFS_close(file);
    return written >= 0 && (size_t)written == length && closed != 0;
}

int storefile_write_override(const char *write_dir, const char *path, const void *data, size_t length) {
    std::lock_guard<std::mutex> held(write_directory_lock);
    if (!PHYSFS_setWriteDir(write_dir)) return 0;
    return write_file_to_vfs(0, path, data, length);
}

int appendfile_write_override(const char *write_dir, const char *path, const void *data, size_t length) {
    std::lock_guard<std::mutex> held(write_directory_lock);
    if (!PHYSFS_setWriteDir(write_dir)) return 0;
    return write_file_to_vfs(1, path, data, length);
}

void write_directory_acquire() { write_directory_lock.lock(); }
void write_directory_release() { write_directory_lock.unlock(); }

int64_t lastmodtime(const char *path) {
    PHYSFS_Stat stat;
    if (!path || !PHYSFS_stat(path, &stat)) return -1;
    return stat.modtime;
}

int path_exists(const char *path) { return path && PHYSFS_exists(path) ? 1 : 0; }
