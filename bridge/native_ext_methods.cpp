// The interpreter side of native extensions: the functions handed to them by
// name, and FFI::Misc#qmx_dlopen, which loads one and lets it register.
#include "ffi.h"
#include "native_ext.h"

#include "../host/fileio.h"
#include "../render/image_api.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

typedef void *(*api_lookup_function)(const char *name);
typedef void (*register_function)(api_lookup_function lookup, mrb_state *mrb, RClass *ffi_module);

// mrb_exc_get became a macro over mrb_exc_get_id; extensions get a function
// with its old signature.
RClass *extension_exc_get(mrb_state *mrb, const char *name) {
    return mrb_exc_get_id(mrb, mrb_intern_cstr(mrb, name));
}

template <typename Function> void *address(Function *function) { return reinterpret_cast<void *>(function); }

void *volatile kept_interpreter_function;

const struct {
    const char *name;
    void *function;
} extension_api[] = {
    {"mrb_raise", address(mrb_raise)},
    {"mrb_module_get", address(mrb_module_get)},
    {"mrb_class_get_under", address(mrb_class_get_under)},
    {"mrb_get_args", address(mrb_get_args)},
    {"vlx_free_foreign_object", address(vlx_free_foreign_object)},
    {"mrb_define_module_under", address(mrb_define_module_under)},
    {"mrb_str_new_cstr", address(mrb_str_new_cstr)},
    {"mrb_define_class_under", address(mrb_define_class_under)},
    {"mrb_define_module_function", address(mrb_define_module_function)},
    {"mrb_data_object_alloc", address(mrb_data_object_alloc)},
    {"mrb_module_get_under", address(mrb_module_get_under)},
    {"mrb_define_method", address(mrb_define_method)},
    {"mrb_define_class_method", address(mrb_define_class_method)},
    {"mrb_exc_get", address(extension_exc_get)},
    {"vlx_upload_pixel_array", address(vlx_upload_pixel_array)},
    {"vlx_load_image", address(vlx_load_image)},
    {"vlx_free_image", address(vlx_free_image)},
};

// Extensions are never unloaded; their records are kept here (never
// destroyed, as a library may still run at exit).
std::vector<native_library *> *loaded_libraries = new std::vector<native_library *>;

// Nothing reports a missing file, a failed load or a missing entry point:
// the extension's classes simply do not appear. An exception its
// registration raises reaches the caller like any other.
mrb_value misc_qmx_dlopen(mrb_state *mrb, mrb_value) {
    const char *name = nullptr;
    mrb_get_args(mrb, "z", &name);
    char *path = sprintf_alloc("native/%s/%s", NATIVE_EXTENSION_PLATFORM, name);
    native_library *library = path ? dlopenfile(path) : nullptr;
    SDL_free(path);
    if (!library) return mrb_nil_value();
    loaded_libraries->push_back(library);
    register_function registration =
        reinterpret_cast<register_function>(SDL_LoadFunction(library->handle, "vlx_register_c_extensions"));
    if (registration) registration(c_extension_api_lookup, mrb, mrb_module_get(mrb, "FFI"));
    return mrb_nil_value();
}

} // namespace

void *c_extension_api_lookup(const char *name) {
    if (!name) return nullptr;
    for (const auto &entry : extension_api) {
        if (std::strcmp(entry.name, name) == 0) return entry.function;
    }
    return nullptr;
}

// The record and its data come from the extension's malloc, not the
// engine's allocator.
void vlx_free_foreign_object(mrb_state *, void *record) {
    foreign_object *object = (foreign_object *)record;
    if (!object) return;
    if (object->kind == 1 && object->owned) free(object->data);
    free(object);
}

// Keeps an interpreter function that nothing in the engine calls in the
// executable, for extensions that link against it directly.
void vlx_trick_clang_for_the_win() { kept_interpreter_function = address(mrb_module_get_under); }

void native_ext_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "qmx_dlopen", misc_qmx_dlopen, MRB_ARGS_REQ(1));
}
