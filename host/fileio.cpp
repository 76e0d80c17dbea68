#include "fileio.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The write directory is one process-wide setting that both threads switch:
// selecting it and writing happen under this one lock.
std::mutex write_directory_lock;

// Why the last write on this thread failed; empty after one that succeeded.
thread_local char write_error[256];
// Makes the temporary names of writes running at the same time differ.
std::atomic<unsigned> temporary_serial{0};

void note_write_error(const char *format, ...) SDL_PRINTF_VARARG_FUNC(1);
void note_write_error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    SDL_vsnprintf(write_error, sizeof(write_error), format, args);
    va_end(args);
}

// A virtual-file-system path as a relative path under the write directory,
// by the rules PhysicsFS applies to the paths it writes: leading and repeated
// slashes dropped, no "." or ".." element, no ":" or "\\". False when the
// path breaks them or names no file.
bool clean_write_path(const char *path, std::string *out) {
    out->clear();
    const char *at = path;
    while (*at) {
        while (*at == '/') ++at;
        const char *end = at;
        while (*end && *end != '/') ++end;
        if (end == at) break;
        std::string element(at, (size_t)(end - at));
        if (element == "." || element == ".." || element.find_first_of(":\\") != std::string::npos) return false;
        if (!out->empty()) *out += '/';
        *out += element;
        at = end;
    }
    return !out->empty();
}

// Makes the folders of the write directory that a file's path names before
// its last slash. A real failure shows up when the file itself is opened.
void make_parent_folders(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) PHYSFS_mkdir(path.substr(0, slash).c_str());
}

// Replaces a file as one step: the bytes go to a temporary file beside it,
// which is flushed to the disk and only then renamed over the file. A write
// that fails or is cut short (a full disk, a read-only folder, a crash)
// leaves the previous file exactly as it was. PhysicsFS has no rename, so
// this works on the write directory's real path.
int replace_file(const char *path, const void *data, size_t length) {
    std::string relative;
    if (!clean_write_path(path, &relative)) {
        note_write_error("\"%s\" is not a file name the engine writes", path);
        return 0;
    }
    const char *write_dir = PHYSFS_getWriteDir();
    if (!write_dir) {
        note_write_error("there is no folder to write into");
        return 0;
    }
    make_parent_folders(relative);
    std::string target = std::string(write_dir) + "/" + relative;
    size_t name_at = target.rfind('/') + 1;
    std::string temporary = target.substr(0, name_at) + "." + target.substr(name_at) + "." +
                            std::to_string((long)getpid()) + "-" + std::to_string(++temporary_serial) + ".tmp";
    // Readable by the owner only, as PhysicsFS makes the files it writes.
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        note_write_error("%s", std::strerror(errno));
        return 0;
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat previous;
    if (stat(target.c_str(), &previous) == 0 && S_ISREG(previous.st_mode)) fchmod(fd, previous.st_mode & 07777);
    bool ok = fd_write_all(fd, data, length) && fsync(fd) == 0;
    if (!ok) note_write_error("%s", std::strerror(errno));
    if (close(fd) != 0 && ok) {
        ok = false;
        note_write_error("%s", std::strerror(errno));
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        note_write_error("%s", std::strerror(errno));
    }
    if (!ok) {
        unlink(temporary.c_str());
        return 0;
    }
    return 1;
}

// Only a real folder becomes the write directory: PhysicsFS opens any other
// path for writing before it refuses it, which empties an archive.
bool select_write_directory(const char *write_dir) {
    if (!platform_directory_exists(write_dir)) {
        note_write_error("%s is not a folder", write_dir ? write_dir : "(none)");
        SDL_Log("files: %s is not a folder, so nothing is written into it", write_dir ? write_dir : "(none)");
        return false;
    }
    if (!PHYSFS_setWriteDir(write_dir)) {
        note_write_error("%s cannot be written into: %s", write_dir, physfs_error());
        return false;
    }
    return true;
}
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
    // A folder reads as no file at all: an empty text would pass for one.
    if (!path || !PHYSFS_stat(path, &stat) || stat.filetype != PHYSFS_FILETYPE_REGULAR || stat.filesize < 0)
        return nullptr;
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
    write_error[0] = 0;
    if (!path) {
        note_write_error("no file name was given");
        return 0;
    }
    if (!append) return replace_file(path, data, length);
    make_parent_folders(path);
    PHYSFS_File *file = PHYSFS_openAppend(path);
    if (!file) {
        note_write_error("%s", physfs_error());
        return 0;
    }
    PHYSFS_sint64 written = 0;
    if (length) written = PHYSFS_writeBytes(file, data, length);
    bool ok = written >= 0 && (size_t)written == length;
    if (!ok) note_write_error("%s", physfs_error());
    if (!PHYSFS_close(file) && ok) {
        ok = false;
        note_write_error("%s", physfs_error());
    }
    return ok ? 1 : 0;
}

const char *file_write_error() { return write_error; }

int storefile_write_override(const char *write_dir, const char *path, const void *data, size_t length) {
    std::lock_guard<std::mutex> held(write_directory_lock);
    write_error[0] = 0;
    if (!select_write_directory(write_dir)) return 0;
    return write_file_to_vfs(0, path, data, length);
}

int appendfile_write_override(const char *write_dir, const char *path, const void *data, size_t length) {
    std::lock_guard<std::mutex> held(write_directory_lock);
    write_error[0] = 0;
    if (!select_write_directory(write_dir)) return 0;
    return write_file_to_vfs(1, path, data, length);
}

void write_directory_acquire() { write_directory_lock.lock(); }
void write_directory_release() { write_directory_lock.unlock(); }

const char *physfs_error() { return PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()); }

bool fd_write_all(int fd, const void *data, size_t length) {
    const char *at = (const char *)data;
    while (length > 0) {
        ssize_t written = write(fd, at, length);
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = EIO;
        if (written <= 0) return false;
        at += written;
        length -= (size_t)written;
    }
    return true;
}

bool platform_directory_exists(const char *path) {
    struct stat info;
    return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t lastmodtime(const char *path) {
    PHYSFS_Stat stat;
    if (!path || !PHYSFS_stat(path, &stat)) return -1;
    return stat.modtime;
}

int path_exists(const char *path) { return path && PHYSFS_exists(path) ? 1 : 0; }
