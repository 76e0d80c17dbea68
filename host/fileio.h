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
// Replacing (append 0) writes a temporary file beside the target and renames
// it over the target once every byte is on the disk, so a failed or cut-short
// write leaves the previous file byte for byte; a failed append is undone.
// Either refuses a path with a symbolic link in it, as PhysicsFS does.
int write_file_to_vfs(int append, const char *path, const void *data, size_t length);
// Why the last write on the calling thread failed ("No space left on
// device"); "" when it succeeded.
const char *file_write_error(void);
// Select write_dir and write, as one step under a lock that every writer
// which switches the write directory shares (the screenshot writer included).
// A write_dir that is not a folder is never selected: the write answers 0
// with one logged message.
int storefile_write_override(const char *write_dir, const char *path, const void *data, size_t length);
int appendfile_write_override(const char *write_dir, const char *path, const void *data, size_t length);
// That same lock, for a caller whose work spans several steps on whichever
// write directory is selected (a copy that is loaded and then deleted): no
// other writer may switch the directory in between.
void write_directory_acquire();
void write_directory_release();
int64_t lastmodtime(const char *path);
int path_exists(const char *path);
// Why `path` names no file any file system could hold: a part between two
// slashes longer than 255 bytes, or more than 4,095 bytes in all once
// repeated slashes count as one; NULL when it could. Every lookup and write
// refuses such a name first, at a cost in proportion to its length.
// PhysicsFS looks a path up one leading part at a time, each lookup taking
// the name again, and a part too long for the system does not end that
// walk: its cost would be the name's length times its slashes.
const char *vfs_name_refusal(const char *path);
}

// PhysicsFS's description of its last failure on the calling thread.
const char *physfs_error();
// Removes, in these platform folders and the folders below them, the
// temporary files that replacing writes of an engine ended mid-write left
// behind; those of a process that still runs stay.
void remove_stale_temporary_files(const char *const *folders, size_t count);
// How many leading bytes of `relative` ("a/b/c") name a symbolic link under
// the platform folder `folder` (1 for "a", 3 for "a/b", ...); 0 when no part
// of it is one.
size_t first_link_length(const char *folder, const char *relative);
// Opens `relative` ("a/b/c") under the platform folder `folder` one level at
// a time, never following a symbolic link below `folder`, so that a folder
// swapped for a link between a check and the open cannot lead elsewhere.
// `flags` and `mode` are open(2)'s for the last level. -1 with errno set
// (ELOOP or ENOTDIR where a link stood) when it cannot.
int open_without_links(const char *folder, const char *relative, int flags, mode_t mode);
// Whether a platform path names a folder (an archive is a file, not one).
bool platform_directory_exists(const char *path);
// Writes every byte to a descriptor, going on after an interrupted write;
// false, with errno set, when it cannot. Only write(2) is called, so a
// signal handler may use it.
bool fd_write_all(int fd, const void *data, size_t length);
