// FFI::File: Ruby's access to the virtual file system. Reads go through the
// search path; each write first selects its own write directory (the game's
// or the base directory), so no writer depends on an earlier selection.
#include "ffi.h"

#include "../host/fileio.h"
#include "../render/image.h"

namespace {

const char *game_dir() { return ffi_game_state && ffi_game_state->game_dir ? ffi_game_state->game_dir : ""; }
const char *base_dir() { return ffi_game_state && ffi_game_state->base_dir ? ffi_game_state->base_dir : ""; }

mrb_value file_mtime(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    return mrb_int_value(mrb, (mrb_int)lastmodtime(path));
}

mrb_value file_path_exists(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    return mrb_bool_value(path_exists(path) != 0);
}

mrb_value file_read(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    size_t size = 0;
    char *bytes = (char *)loadfile(path, &size);
    if (!bytes) return mrb_nil_value();
    // Copy out and release before anything can raise.
    mrb_value text = mrb_str_new(mrb, bytes, (mrb_int)size);
    SDL_free(bytes);
    return text;
}

enum write_mode { WRITE_TRUNCATE, WRITE_APPEND };

mrb_value write_into(mrb_state *mrb, const char *directory, write_mode mode) {
    const char *path = nullptr;
    const char *data = nullptr;
    mrb_int length = 0;
    mrb_get_args(mrb, "zs", &path, &data, &length);
    int ok = mode == WRITE_APPEND ? appendfile_write_override(directory, path, data, (size_t)length)
                                  : storefile_write_override(directory, path, data, (size_t)length);
    return mrb_bool_value(ok != 0);
}

mrb_value file_write(mrb_state *mrb, mrb_value) { return write_into(mrb, game_dir(), WRITE_TRUNCATE); }
mrb_value file_append(mrb_state *mrb, mrb_value) { return write_into(mrb, game_dir(), WRITE_APPEND); }
mrb_value file_write_root(mrb_state *mrb, mrb_value) { return write_into(mrb, base_dir(), WRITE_TRUNCATE); }
mrb_value file_append_root(mrb_state *mrb, mrb_value) { return write_into(mrb, base_dir(), WRITE_APPEND); }

// Why the last write failed, for the runtime's messages; nil after a write
// that succeeded.
mrb_value file_last_write_error(mrb_state *mrb, mrb_value) {
    const char *reason = file_write_error();
    return *reason ? mrb_str_new_cstr(mrb, reason) : mrb_nil_value();
}

// Why a name can name no file (too long for any file system), for the
// runtime's messages; nil when it can.
mrb_value file_name_refusal(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    const char *reason = vfs_name_refusal(path);
    return reason ? mrb_str_new_cstr(mrb, reason) : mrb_nil_value();
}

mrb_value file_get_base_dir(mrb_state *mrb, mrb_value) { return mrb_str_new_cstr(mrb, base_dir()); }
mrb_value file_get_game_dir(mrb_state *mrb, mrb_value) { return mrb_str_new_cstr(mrb, game_dir()); }

// [pixels, width, height]: each pixel the bytes R, G, B, A read as one
// little-endian number, rows from the top.
mrb_value file_load_image(mrb_state *mrb, mrb_value) {
    const char *path = nullptr;
    mrb_get_args(mrb, "z", &path);
    int32_t width = 0, height = 0;
    uint8_t *pixels = load_image(path, &width, &height);
    if (!pixels) return mrb_nil_value();
    size_t count = width > 0 && height > 0 ? (size_t)width * (size_t)height : 0;
    if (count > (size_t)MRB_INT_MAX / 2) {
        free_image(pixels);
        return mrb_nil_value();
    }
    mrb_value list = mrb_ary_new_capa(mrb, (mrb_int)count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *p = pixels + i * 4;
        uint32_t value = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
        mrb_ary_push(mrb, list, mrb_int_value(mrb, (mrb_int)value));
    }
    free_image(pixels);
    mrb_value result[3] = {list, mrb_int_value(mrb, width), mrb_int_value(mrb, height)};
    return mrb_ary_new_from_values(mrb, 3, result);
}

} // namespace

void ffi_file_methods_define(mrb_state *mrb, RClass *file_class) {
    mrb_define_method(mrb, file_class, "mtime", file_mtime, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, file_class, "path_exists", file_path_exists, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, file_class, "read", file_read, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, file_class, "write", file_write, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, file_class, "append", file_append, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, file_class, "write_root", file_write_root, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, file_class, "append_root", file_append_root, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, file_class, "last_write_error", file_last_write_error, MRB_ARGS_NONE());
    mrb_define_method(mrb, file_class, "name_refusal", file_name_refusal, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, file_class, "get_base_dir", file_get_base_dir, MRB_ARGS_NONE());
    mrb_define_method(mrb, file_class, "get_game_dir", file_get_game_dir, MRB_ARGS_NONE());
    mrb_define_method(mrb, file_class, "load_image", file_load_image, MRB_ARGS_REQ(1));
}
