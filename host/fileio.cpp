#include "fileio.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
// The longest name most file systems take between two slashes, and the
// longest path the system takes in one call, in bytes.
constexpr size_t NAME_LIMIT = 255;
constexpr size_t PATH_LIMIT = PATH_MAX - 1;

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

// The real path in the write directory that a write of `path` goes to, with
// the folders before the file's name made. Refused as PhysicsFS refuses the
// paths it writes: one that breaks its rules, and one with a symbolic link
// anywhere in it, since a link can lead out of the folder.
bool write_target(const char *path, std::string *target) {
    if (const char *refusal = vfs_name_refusal(path)) {
        note_write_error("%s", refusal);
        return false;
    }
    std::string relative;
    if (!clean_write_path(path, &relative)) {
        note_write_error("\"%s\" is not a file name the engine writes", path);
        return false;
    }
    const char *write_dir = PHYSFS_getWriteDir();
    if (!write_dir) {
        note_write_error("there is no folder to write into");
        return false;
    }
    if (size_t link = first_link_length(write_dir, relative.c_str())) {
        note_write_error("%.*s is a symbolic link, which the engine does not write through", (int)link,
                         relative.c_str());
        return false;
    }
    make_parent_folders(relative);
    *target = std::string(write_dir) + "/" + relative;
    return true;
}

constexpr const char TEMPORARY_SUFFIX[] = ".tmp";

// The temporary file beside `target`: ".<name>.<pid>-<n>.tmp". The process
// id and the count make it unique; a long name is cut (at a character's
// start) so that the whole stays a name the file system takes.
std::string temporary_path(const std::string &target) {
    size_t name_at = target.rfind('/') + 1;
    std::string tail = "." + std::to_string((long)getpid()) + "-" + std::to_string(++temporary_serial) + TEMPORARY_SUFFIX;
    size_t keep = std::min(target.size() - name_at, NAME_LIMIT - 1 - tail.size());
    while (keep > 1 && ((unsigned char)target[name_at + keep] & 0xC0) == 0x80) --keep;
    return target.substr(0, name_at) + "." + target.substr(name_at, keep) + tail;
}

// The process id in a name that temporary_path made; 0 for any other name.
long temporary_owner(const char *name) {
    size_t length = std::strlen(name), suffix = sizeof(TEMPORARY_SUFFIX) - 1;
    if (name[0] != '.' || length <= suffix || std::strcmp(name + length - suffix, TEMPORARY_SUFFIX) != 0) return 0;
    size_t end = length - suffix, at = end;
    while (at > 0 && std::isdigit((unsigned char)name[at - 1])) --at;
    if (at == end || at < 1 || name[at - 1] != '-') return 0;
    size_t pid_end = at - 1;
    at = pid_end;
    while (at > 0 && std::isdigit((unsigned char)name[at - 1])) --at;
    // At least one character of the name before the dot that ends it.
    if (at == pid_end || at < 3 || name[at - 1] != '.' || pid_end - at > 9) return 0;
    return std::strtol(name + at, nullptr, 10);
}

// Replaces a file as one step: the bytes go to a temporary file beside it,
// which is flushed to the disk and only then renamed over the file. A write
// that fails or is cut short (a full disk, a read-only folder, a crash)
// leaves the previous file exactly as it was. PhysicsFS has no rename, so
// this works on the write directory's real path.
int replace_file(const char *path, const void *data, size_t length) {
    std::string target;
    if (!write_target(path, &target)) return 0;
    std::string temporary = temporary_path(target);
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

// Whether a file that the write directory does not hold yet would, once
// written there, be read before the one that the search path finds under
// `path` now: the write directory is searched before the element that holds
// it (in production, or for a game run from an archive).
bool written_copy_read_first(const char *path) {
    const char *holder = PHYSFS_getRealDir(path), *write_dir = PHYSFS_getWriteDir();
    struct stat written;
    if (!holder || !write_dir || stat(write_dir, &written) != 0) return false;
    char **elements = PHYSFS_getSearchPath();
    bool first = false;
    for (char **element = elements; element && *element && std::strcmp(*element, holder) != 0; ++element) {
        struct stat info;
        if (stat(*element, &info) == 0 && info.st_dev == written.st_dev && info.st_ino == written.st_ino) {
            first = true;
            break;
        }
    }
    PHYSFS_freeList(elements);
    return first;
}

// Appends all of the bytes or none: a write that fails part-way (a full
// disk) is cut back off, and a file that the append made is removed again.
// An append to a file that the game ships and the write directory does not
// hold yet starts from the shipped text, so that the game reads that text
// with the bytes added, as where the two are one folder.
int append_to_file(const char *path, const void *data, size_t length) {
    std::string target;
    if (!write_target(path, &target)) return 0;
    struct stat before;
    bool existed = lstat(target.c_str(), &before) == 0;
    if (!existed && written_copy_read_first(path)) {
        size_t size = 0;
        if (char *shipped = (char *)loadfile(path, &size)) {
            std::string whole(shipped, size);
            SDL_free(shipped);
            whole.append((const char *)data, length);
            return replace_file(path, whole.data(), whole.size());
        }
    }
    int fd = open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        note_write_error("%s", std::strerror(errno));
        return 0;
    }
    bool ok = fstat(fd, &before) == 0 && fd_write_all(fd, data, length);
    if (!ok) {
        note_write_error("%s", std::strerror(errno));
        // Nothing more can be done when undoing fails too.
        int undone = existed ? ftruncate(fd, before.st_size) : unlink(target.c_str());
        (void)undone;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        note_write_error("%s", std::strerror(errno));
    }
    return ok ? 1 : 0;
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

const char *vfs_name_refusal(const char *path) {
    size_t total = 0;
    for (const char *at = path ? path : ""; *at;) {
        while (*at == '/') ++at;
        size_t length = std::strcspn(at, "/");
        if (length > NAME_LIMIT)
            return "a part of its name between two slashes is longer than 255 bytes, the most a file system takes";
        if (length) total += total ? length + 1 : length;
        if (total > PATH_LIMIT) return "its name is longer than 4,095 bytes, the most a file system takes";
        at += length;
    }
    return nullptr;
}

void *loadfile(const char *path, size_t *out_size) {
    if (out_size) *out_size = 0;
    PHYSFS_Stat stat;
    // A folder reads as no file at all: an empty text would pass for one.
    if (!path || vfs_name_refusal(path) || !PHYSFS_stat(path, &stat) || stat.filetype != PHYSFS_FILETYPE_REGULAR ||
        stat.filesize < 0)
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
    return append ? append_to_file(path, data, length) : replace_file(path, data, length);
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

void remove_stale_temporary_files(const char *const *folders, size_t count) {
    std::set<std::pair<dev_t, ino_t>> walked;
    std::vector<std::string> pending;
    for (size_t i = 0; i < count; ++i)
        if (folders[i]) pending.push_back(folders[i]);
    while (!pending.empty()) {
        std::string folder = pending.back();
        pending.pop_back();
        struct stat info;
        // A folder reached twice (the game folder inside the base folder) is
        // walked once.
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            !walked.insert({info.st_dev, info.st_ino}).second)
            continue;
        DIR *dir = opendir(folder.c_str());
        if (!dir) continue;
        while (const dirent *entry = readdir(dir)) {
            const char *name = entry->d_name;
            std::string path = folder + "/" + name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || lstat(path.c_str(), &info) != 0) continue;
            // Links are not followed out of the folder, and hidden folders
            // (version control, say) are passed over.
            if (S_ISDIR(info.st_mode)) {
                if (name[0] != '.') pending.push_back(path);
                continue;
            }
            long owner = S_ISREG(info.st_mode) ? temporary_owner(name) : 0;
            if (owner > 0 && owner != (long)getpid() && kill((pid_t)owner, 0) != 0 && errno == ESRCH)
                unlink(path.c_str());
        }
        closedir(dir);
    }
}

size_t first_link_length(const char *folder, const char *relative) {
    for (size_t end = 0; relative[end];) {
        end += std::strcspn(relative + end + 1, "/") + 1;
        std::string leading = std::string(folder) + "/" + std::string(relative, end);
        struct stat info;
        // What does not exist yet cannot be a link, nor can what lies below it.
        if (lstat(leading.c_str(), &info) != 0) return 0;
        if (S_ISLNK(info.st_mode)) return end;
    }
    return 0;
}

int open_without_links(const char *folder, const char *relative, int flags, mode_t mode) {
    int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const char *level = relative; dir >= 0;) {
        size_t length = std::strcspn(level, "/");
        std::string name(level, length);
        if (!level[length]) {
            int fd = openat(dir, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
            int error = errno;
            close(dir);
            errno = error;
            return fd;
        }
        int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        close(dir);
        errno = error;
        dir = next;
        level += length + 1;
    }
    return -1;
}

bool platform_directory_exists(const char *path) {
    struct stat info;
    return path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t lastmodtime(const char *path) {
    PHYSFS_Stat stat;
    if (!path || vfs_name_refusal(path) || !PHYSFS_stat(path, &stat)) return -1;
    return stat.modtime;
}

int path_exists(const char *path) { return path && !vfs_name_refusal(path) && PHYSFS_exists(path) ? 1 : 0; }
