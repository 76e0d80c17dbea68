// A folder mounted into the virtual file system with some of its names left
// out: read-only, and searched before everything mounted so far. A game run
// from an archive writes beside the engine; this lets what it wrote there be
// read before the archive while the engine's own files in the same folder
// stay behind the game's.
#pragma once

// Mounts `folder` (a platform path) so that the names in `left_out`
// (separated by spaces; each a file or folder directly inside it, with
// everything below it) are not found through this mount. The folder's
// search-path element is named by a path to the folder that differs from the
// folder's own text, so the two can both be mounted. 1 on success, else 0
// with PhysicsFS's error set.
int folder_view_mount(const char *folder, const char *left_out);
