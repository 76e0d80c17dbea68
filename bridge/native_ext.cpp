#include "native_ext.h"

#include "../host/fileio.h"

#include <SDL2/SDL.h>
#include <physfs.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int COPY_ATTEMPTS = 128;

// Numbers the copies of this process. The dynamic loader knows a library by
// the name it was loaded under, even after that file is gone: a second copy
// under a name used before would be answered with the first library.
// Guarded by the write-directory lock, which load_copy_of holds.
unsigned copies_named = 0;

// A library inside an archive cannot be loaded from there: its bytes go to
// a file of their own in the write directory, which is loaded and removed.
// The write-directory lock is held throughout, so another writer cannot
// switch the directory between writing the copy, finding it again and
// deleting it.
native_library *load_copy_of(const char *file) {
    size_t size = 0;
    void *bytes = loadfile(file, &size);
    if (!bytes) return nullptr;
    write_directory_acquire();
    unsigned long long now = (unsigned long long)time(nullptr);
    char name[128];
    bool written = false;
    for (int attempt = 0; attempt < COPY_ATTEMPTS && !written; ++attempt) {
        SDL_snprintf(name, sizeof(name), "%s/obj-%llu-%u.%s", NATIVE_EXTENSION_COPY_DIR, now, copies_named++,
                     NATIVE_EXTENSION_SUFFIX);
        written = write_file_to_vfs(0, name, bytes, size) != 0;
    }
    SDL_free(bytes);
    native_library *library = nullptr;
    if (written) {
        const char *write_dir = PHYSFS_getWriteDir();
        library = write_dir ? open_shared_object_at(write_dir, name, 1) : nullptr;
        if (!library) PHYSFS_delete(name);
    }
    // Goes only when empty, which it is unless another copy is in use.
    PHYSFS_delete(NATIVE_EXTENSION_COPY_DIR);
    write_directory_release();
    return library;
}

} // namespace

native_library *open_shared_object_at(const char *directory, const char *file, int remove_after_load) {
    if (!directory || !file) return nullptr;
    size_t length = std::strlen(directory);
    const char *separator = length == 0 || directory[length - 1] == '/' ? "" : "/";
    char *full = sprintf_alloc("%s%s%s", directory, separator, file);
    if (!full) return nullptr;
    char *canonical = realpath(full, nullptr);
    SDL_free(full);
    if (!canonical) return nullptr;
    native_library *library = (native_library *)SDL_calloc(1, sizeof(native_library));
    if (library) library->handle = SDL_LoadObject(canonical);
    if (library && !library->handle) {
        SDL_free(library);
        library = nullptr;
    }
    // The loaded library stays mapped after its file is gone.
    if (library && remove_after_load) unlink(canonical);
    free(canonical);
    return library;
}

native_library *dlopenfile(const char *path) {
    char *file = path ? sprintf_alloc("%s.%s", path, NATIVE_EXTENSION_SUFFIX) : nullptr;
    if (!file) return nullptr;
    native_library *library = nullptr;
    const char *element = vfs_name_refusal(file) ? nullptr : PHYSFS_getRealDir(file);
    struct stat info;
    if (element && lstat(element, &info) == 0 && S_ISDIR(info.st_mode)) {
        library = open_shared_object_at(element, file, 0);
    } else {
        library = load_copy_of(file);
    }
    SDL_free(file);
    return library;
}

void *dlsymfile(native_library *library, const char *symbol) {
    return library && library->handle && symbol ? SDL_LoadFunction(library->handle, symbol) : nullptr;
}
