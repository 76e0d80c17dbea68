// Native extensions: shared objects a game ships under
// "native/<platform>/<name>.<suffix>", found through the virtual file system.
// One in a plain directory is loaded in place; one inside an archive is
// copied into the write directory, loaded, and its copy removed at once.
// Extensions are never unloaded. Exported with C linkage: extensions may call
// these functions too.
#pragma once

#include <cstdint>

struct mrb_state;

// This platform's folder under "native/" and its shared-library suffix.
constexpr char NATIVE_EXTENSION_PLATFORM[] = "linux";
constexpr char NATIVE_EXTENSION_SUFFIX[] = "so";
// Where copies out of archives live for the moment of loading.
constexpr char NATIVE_EXTENSION_COPY_DIR[] = "vellumcore-sharedobjs";

// A loaded library, kept for the life of the process.
struct native_library {
    void *handle;
};

// A record an extension makes with malloc and hands to Ruby; kind 1 with
// owned set also owns its data block (from malloc too).
struct foreign_object {
    uint32_t kind;
    void *data;
    uint32_t owned;
};

extern "C" {
// path is a virtual-file-system path without the suffix. NULL when the file
// is missing or does not load.
native_library *dlopenfile(const char *path);
native_library *open_shared_object_at(const char *directory, const char *file, int remove_after_load);
void *dlsymfile(native_library *library, const char *symbol);

// Shaped as an mruby data type's free function, so extensions can use it
// as theirs.
void vlx_free_foreign_object(mrb_state *mrb, void *record);
// What an extension's registration may call, by name; NULL for any other.
void *c_extension_api_lookup(const char *name);
void vlx_trick_clang_for_the_win();
}
