// The FFI module: the one door through which Ruby reaches native services.
// ffi_init builds the module, its classes File, Misc, MRB, CPtr and
// Compiler, and their method groups once at start-up; start-up adds FFI::Draw
// and its methods (render/draw_methods.cpp) afterwards.
#pragma once

#include "../host/game_state.h"

#include <string>

struct render_context;
struct cJSON;

// Defines module FFI, its classes and their methods, and Array#value.
void ffi_init(game_state *state, render_context *context);

// Wraps a native record in a new FFI::CPtr. The Ruby object never owns the
// record: collecting it frees nothing, the native side that made the record
// releases it. Answers nil when the object cannot be made.
extern "C" mrb_value ffi_cptr_new(mrb_state *mrb, void *pointer);
// The record a CPtr wraps; NULL for anything else or an empty CPtr.
void *ffi_cptr_get(mrb_state *mrb, mrb_value object);

// Stored by ffi_init for the whole process: the file methods read the game
// and base directories from the game state; text measuring, the window title
// and the device size read the render context.
extern game_state *ffi_game_state;
extern render_context *ffi_render_context;

// Method groups, each in a file of its own (bridge/ffi_<group>.cpp); the
// controller-configuration group is in controller_config_methods.h.
void ffi_file_methods_define(mrb_state *mrb, RClass *file_class);
void ffi_misc_methods_define(mrb_state *mrb, RClass *misc_class);
void ffi_mrb_methods_define(mrb_state *mrb, RClass *mrb_class);
void ffi_compiler_methods_define(mrb_state *mrb, RClass *compiler_class);
// FFI.saved_text_write and FFI.saved_text_read, the walks of the saved-state
// writer and reader, which the framework needs also where no runtime exists
// (the framework's test host).
void ffi_saved_text_methods_define(mrb_state *mrb, RClass *ffi_module);
// FFI.replay_text_read and FFI.replay_events_at, the recorder's reading of
// a replay file and its look-up of a tick's events (bridge/
// replay_text_methods.cpp).
void ffi_replay_text_methods_define(mrb_state *mrb, RClass *ffi_module);
// FFI.entity_property_first_use, which gives an entity native accessors for
// its dynamic properties, and FFI.entity_read, what such a reader answers
// (bridge/entity_accessors.cpp); needed wherever the framework makes
// entities.
void ffi_entity_accessor_methods_define(mrb_state *mrb, RClass *ffi_module);

// FFI::Misc's parsers, each group registered from bridge/ffi.cpp.
void xml_methods_define(mrb_state *mrb, RClass *misc_class);
void json_methods_define(mrb_state *mrb, RClass *misc_class);
// The converters behind them: nil for anything that does not parse, with
// the reason and its line and column in *failure when one is given (left
// empty otherwise). Running out of memory while building is such a failure;
// another Ruby exception raised while building is logged and cleared, and
// answers nil. The FFI methods keep the reason on their receiver as
// @parse_error, read with FFI::Misc#parse_error.
mrb_value xml_text_to_ruby(mrb_state *mrb, const char *text, size_t length, bool strip,
                           std::string *failure = nullptr);
// json_methods_define routes the JSON parser to the engine's allocator first.
// text holds `length` bytes and a NUL after them; a NUL byte among them, or
// a string holding an escaped one, is refused rather than answered cut short.
mrb_value json_text_to_ruby(mrb_state *mrb, const char *text, size_t length, std::string *failure = nullptr);
// " at line L, column C", both counted from 1 (the column in bytes): where a
// parser's failure is, said the same way by every parser.
std::string ffi_parse_position_text(unsigned long line, unsigned long column);
// Keeps a parser method's failure on its receiver (nil for none), where
// FFI::Misc#parse_error reads it.
void ffi_misc_record_parse_failure(mrb_state *mrb, mrb_value self, const std::string &failure);
// One parsed item as a Ruby value. With parent undefined the value is the
// answer; otherwise it is stored into parent (a Hash for an object member,
// an Array for an element) and parent is the answer. *number_text is the
// parsed text from where the item's numbers begin, and moves past each one
// read: whole numbers are read from their text.
mrb_value json_to_ruby(mrb_state *mrb, mrb_value parent, const cJSON *item, const char **number_text);

// FFI::Misc#qmx_dlopen: native extensions from the game's "native/" folder.
void native_ext_methods_define(mrb_state *mrb, RClass *misc_class);
