// Whole-file helpers over the virtual file system. Reads search the mounted
// directories; writes go to the one write directory. Exported with C linkage
// because native extensions may use them too.
#pragma once

#include <SDL2/SDL.h>
#include <cstddef>
#include <cstdint>

extern "C" {
char *sprintf_alloc(const char *format, ...) SDL_PRINTF_VARARG_FUNC(1);
void *loadfile(const char *path, size_t *out_size);
int write_file_to_vfs(int append, const char *path, const void *data, size_t length);
// Select write_dir and write, as one step under a lock that every writer
// which switches the write directory shares (the screenshot writer included).
int storefile_write_override(const char *write_dir, const char *path, const void *data, size_t length);
int appendfile_write_override(const char *write_dir, const char *path, const void *data, size_t length);
// That same lock, for a caller whose work spans several steps on whichever
// write directory is selected (a copy that is loaded and then deleted): no
// other writer may switch the directory in between.
void write_directory_acquire();
void write_directory_release();
int64_t lastmodtime(const char *path);
int path_exists(const char *path);
}
