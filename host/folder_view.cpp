#include "folder_view.h"

#include "fileio.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One mounted view. PhysicsFS hands the archiver a stream to open; the view
// is handed over as a stream of no bytes that carries the record, which only
// this archiver takes (every other archiver finds no archive in it).
struct folder_view {
    char *folder;    // without a trailing slash
    char *left_out;  // the names, each ended by a NUL, and an empty one last
    PHYSFS_Io *io;
};

PHYSFS_ErrorCode error_from_errno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return PHYSFS_ERR_NOT_FOUND;
    case EACCES:
    case EPERM: return PHYSFS_ERR_PERMISSION;
    case ENOMEM: return PHYSFS_ERR_OUT_OF_MEMORY;
    case ELOOP: return PHYSFS_ERR_SYMLINK_LOOP;
    default: return PHYSFS_ERR_OS_ERROR;
    }
}

// Whether the first element of a path below the folder is a name left out.
bool left_out(const folder_view *view, const char *path) {
    size_t length = std::strcspn(path, "/");
    for (const char *name = view->left_out; *name; name += std::strlen(name) + 1)
        if (std::strlen(name) == length && std::memcmp(name, path, length) == 0) return true;
    return false;
}

// The platform path of a path below the folder (the folder itself for "").
// NULL, with the error set, for a name left out or when memory runs out.
char *platform_path(const folder_view *view, const char *path) {
    if (left_out(view, path)) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
        return nullptr;
    }
    char *full = sprintf_alloc("%s/%s", view->folder, path);
    if (!full) PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
    return full;
}

// --- Reading one file of the folder --------------------------------------

struct open_file {
    int fd;
    char *path;
};

PHYSFS_Io *file_io_new(const char *path, int fd);

PHYSFS_sint64 file_read(PHYSFS_Io *io, void *buffer, PHYSFS_uint64 length) {
    open_file *file = (open_file *)io->opaque;
    PHYSFS_uint64 total = 0;
    while (total < length) {
        ssize_t got = read(file->fd, (char *)buffer + total, (size_t)(length - total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            PHYSFS_setErrorCode(error_from_errno(errno));
            return total ? (PHYSFS_sint64)total : -1;
        }
        if (got == 0) break;
        total += (PHYSFS_uint64)got;
    }
    return (PHYSFS_sint64)total;
}

PHYSFS_sint64 file_write(PHYSFS_Io *, const void *, PHYSFS_uint64) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return -1;
}

int file_seek(PHYSFS_Io *io, PHYSFS_uint64 offset) {
    if (lseek(((open_file *)io->opaque)->fd, (off_t)offset, SEEK_SET) >= 0) return 1;
    PHYSFS_setErrorCode(error_from_errno(errno));
    return 0;
}

PHYSFS_sint64 file_tell(PHYSFS_Io *io) { return (PHYSFS_sint64)lseek(((open_file *)io->opaque)->fd, 0, SEEK_CUR); }

PHYSFS_sint64 file_length(PHYSFS_Io *io) {
    struct stat info;
    return fstat(((open_file *)io->opaque)->fd, &info) == 0 ? (PHYSFS_sint64)info.st_size : -1;
}

PHYSFS_Io *file_duplicate(PHYSFS_Io *io) {
    open_file *file = (open_file *)io->opaque;
    int fd = open(file->path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PHYSFS_setErrorCode(error_from_errno(errno));
        return nullptr;
    }
    PHYSFS_Io *copy = file_io_new(file->path, fd);
    if (copy && !file_seek(copy, (PHYSFS_uint64)file_tell(io))) {
        copy->destroy(copy);
        copy = nullptr;
    }
    return copy;
}

int file_flush(PHYSFS_Io *) { return 1; }

void file_destroy(PHYSFS_Io *io) {
    open_file *file = (open_file *)io->opaque;
    close(file->fd);
    SDL_free(file->path);
    SDL_free(file);
    SDL_free(io);
}

// Takes the descriptor: it is closed when the stream cannot be made.
PHYSFS_Io *file_io_new(const char *path, int fd) {
    open_file *file = (open_file *)SDL_malloc(sizeof(open_file));
    PHYSFS_Io *io = (PHYSFS_Io *)SDL_malloc(sizeof(PHYSFS_Io));
    char *copy = SDL_strdup(path);
    if (!file || !io || !copy) {
        close(fd);
        SDL_free(file);
        SDL_free(io);
        SDL_free(copy);
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    *file = {fd, copy};
    *io = {0, file, file_read, file_write, file_seek, file_tell, file_length, file_duplicate, file_flush, file_destroy};
    return io;
}

// --- The stream that carries a view to the archiver -----------------------

PHYSFS_sint64 view_read(PHYSFS_Io *, void *, PHYSFS_uint64) { return 0; }
int view_seek(PHYSFS_Io *, PHYSFS_uint64 offset) { return offset == 0; }
PHYSFS_sint64 view_tell(PHYSFS_Io *) { return 0; }
PHYSFS_sint64 view_length(PHYSFS_Io *) { return 0; }
PHYSFS_Io *view_duplicate(PHYSFS_Io *) {
    PHYSFS_setErrorCode(PHYSFS_ERR_UNSUPPORTED);
    return nullptr;
}

void view_destroy(PHYSFS_Io *io) {
    folder_view *view = (folder_view *)io->opaque;
    SDL_free(view->folder);
    SDL_free(view->left_out);
    SDL_free(view);
    SDL_free(io);
}

// --- The archiver ----------------------------------------------------------

void *view_open(PHYSFS_Io *io, const char *, int for_writing, int *claimed) {
    if (io->read != view_read) return nullptr;
    *claimed = 1;
    if (for_writing) {
        PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
        return nullptr;
    }
    return io->opaque;
}

// Symbolic links are reported as links, not followed, so that PhysicsFS
// refuses paths through them here as in any folder it mounts.
int view_stat(void *opaque, const char *path, PHYSFS_Stat *stat) {
    char *full = platform_path((folder_view *)opaque, path);
    if (!full) return 0;
    struct stat info;
    int result = lstat(full, &info);
    int error = errno;
    bool writable = result == 0 && access(full, W_OK) == 0;
    SDL_free(full);
    if (result != 0) {
        PHYSFS_setErrorCode(error_from_errno(error));
        return 0;
    }
    stat->filesize = S_ISREG(info.st_mode) ? (PHYSFS_sint64)info.st_size : 0;
    stat->filetype = S_ISREG(info.st_mode)   ? PHYSFS_FILETYPE_REGULAR
                     : S_ISDIR(info.st_mode) ? PHYSFS_FILETYPE_DIRECTORY
                     : S_ISLNK(info.st_mode) ? PHYSFS_FILETYPE_SYMLINK
                                             : PHYSFS_FILETYPE_OTHER;
    stat->modtime = info.st_mtime;
    stat->createtime = info.st_ctime;
    stat->accesstime = info.st_atime;
    stat->readonly = !writable;
    return 1;
}

PHYSFS_EnumerateCallbackResult view_enumerate(void *opaque, const char *path, PHYSFS_EnumerateCallback callback,
                                              const char *asked, void *data) {
    const folder_view *view = (folder_view *)opaque;
    char *full = platform_path(view, path);
    if (!full) return PHYSFS_ENUM_ERROR;
    DIR *dir = opendir(full);
    int error = errno;
    SDL_free(full);
    if (!dir) {
        PHYSFS_setErrorCode(error_from_errno(error));
        return PHYSFS_ENUM_ERROR;
    }
    PHYSFS_EnumerateCallbackResult result = PHYSFS_ENUM_OK;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, "..") || (!*path && left_out(view, name))) continue;
        result = callback(data, asked, name);
        if (result == PHYSFS_ENUM_ERROR) PHYSFS_setErrorCode(PHYSFS_ERR_APP_CALLBACK);
        if (result != PHYSFS_ENUM_OK) break;
    }
    closedir(dir);
    return result;
}

PHYSFS_Io *view_open_read(void *opaque, const char *path) {
    char *full = platform_path((folder_view *)opaque, path);
    if (!full) return nullptr;
    int fd = open(full, O_RDONLY | O_CLOEXEC);
    struct stat info;
    PHYSFS_Io *io = nullptr;
    if (fd < 0) {
        PHYSFS_setErrorCode(error_from_errno(errno));
    } else if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_A_FILE);
    } else {
        io = file_io_new(full, fd);
    }
    SDL_free(full);
    return io;
}

// Writes go to the write directory, never through a view.
PHYSFS_Io *view_open_write(void *, const char *) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return nullptr;
}

int view_change(void *, const char *) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return 0;
}

void view_close(void *opaque) {
    PHYSFS_Io *io = ((folder_view *)opaque)->io;
    io->destroy(io);
}

const PHYSFS_Archiver view_archiver = {
    0,
    {"VELLUMCORE-FOLDER-VIEW", "A folder with some names left out", "vellumcore", "", 0},
    view_open,
    view_enumerate,
    view_open_read,
    view_open_write,
    view_open_write,
    view_change,
    view_change,
    view_stat,
    view_close,
};

} // namespace

int folder_view_mount(const char *folder, const char *names) {
    if (!folder || !names) {
        PHYSFS_setErrorCode(PHYSFS_ERR_INVALID_ARGUMENT);
        return 0;
    }
    // PhysicsFS forgets its archivers when it is shut down.
    if (!PHYSFS_registerArchiver(&view_archiver) && PHYSFS_getLastErrorCode() != PHYSFS_ERR_DUPLICATE) return 0;
    size_t length = std::strlen(folder);
    while (length > 1 && folder[length - 1] == '/') --length;
    folder_view *view = (folder_view *)SDL_calloc(1, sizeof(folder_view));
    PHYSFS_Io *io = (PHYSFS_Io *)SDL_malloc(sizeof(PHYSFS_Io));
    // The names, each ended by a NUL instead of the spaces, then one more.
    char *left = (char *)SDL_calloc(std::strlen(names) + 2, 1);
    if (view) view->folder = (char *)SDL_malloc(length + 1);
    // "<folder>/." names the same folder as "<folder>/" does.
    char *element = sprintf_alloc("%.*s/.", (int)length, folder);
    if (!view || !io || !left || !view->folder || !element) {
        if (view) SDL_free(view->folder);
        SDL_free(view), SDL_free(io), SDL_free(left), SDL_free(element);
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return 0;
    }
    std::memcpy(view->folder, folder, length);
    view->folder[length] = 0;
    char *end = left;
    for (const char *at = names; *at;) {
        size_t word = std::strcspn(at, " ");
        if (word) {
            std::memcpy(end, at, word);
            end += word + 1;
        }
        at += word + (at[word] == ' ');
    }
    view->left_out = left;
    view->io = io;
    *io = {0, view, view_read, file_write, view_seek, view_tell, view_length, view_duplicate, file_flush, view_destroy};
    // PhysicsFS answers a name it has mounted already with success, without
    // taking the stream.
    const bool mounted_before = PHYSFS_getMountPoint(element) != nullptr;
    int mounted = mounted_before || PHYSFS_mountIo(io, element, nullptr, 0);
    if (mounted_before || !mounted) io->destroy(io);
    SDL_free(element);
    return mounted;
}
