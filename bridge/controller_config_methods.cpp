#include "controller_config_methods.h"

#include "../host/controllers.h"
#include "../host/fileio.h"
#include "../host/game_state.h"

#include <SDL2/SDL.h>

namespace {

constexpr size_t GUID_TEXT_LENGTH = 32;
constexpr size_t GUID_CRC_FIRST_DIGIT = 4;
constexpr size_t GUID_CRC_DIGITS = 4;
const char USER_MAPPINGS_FILE[] = "user_controller_mappings.txt";

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The open raw joystick with that id. A device that has become a game
// controller shares its joystick with the controller; closing that would free
// it under the player slot, so it counts as no raw joystick.
SDL_Joystick *open_raw_joystick(SDL_JoystickID instance_id) {
    if (SDL_GameControllerFromInstanceID(instance_id)) return nullptr;
    return SDL_JoystickFromInstanceID(instance_id);
}

mrb_value misc_close_raw_joystick(mrb_state *mrb, mrb_value) {
    mrb_int id;
    mrb_get_args(mrb, "i", &id);
    if (id < 0 || id > SDL_MAX_SINT32) return mrb_nil_value();
    if (SDL_Joystick *joystick = open_raw_joystick((SDL_JoystickID)id)) SDL_JoystickClose(joystick);
    return mrb_nil_value();
}

mrb_value misc_add_controller_config(mrb_state *mrb, mrb_value) {
    char *mapping;
    mrb_int length;
    mrb_get_args(mrb, "s", &mapping, &length);
    add_controller_config(mapping, (size_t)length);
    return mrb_nil_value();
}

mrb_value misc_convert_rawjoystick_to_controller(mrb_state *mrb, mrb_value) {
    mrb_int id;
    mrb_get_args(mrb, "i", &id);
    if (id < 0 || id > SDL_MAX_SINT32) return mrb_nil_value();
    convert_rawjoystick_to_controller((SDL_JoystickID)id);
    return mrb_nil_value();
}

} // namespace

void mapping_line_clear_name_crc(char *line, size_t length) {
    if (!line || length < GUID_TEXT_LENGTH) return;
    for (size_t i = 0; i < GUID_TEXT_LENGTH; ++i)
        if (!is_hex_digit(line[i])) return;
    if (length > GUID_TEXT_LENGTH && line[GUID_TEXT_LENGTH] != ',') return;
    for (size_t i = GUID_CRC_FIRST_DIGIT; i < GUID_CRC_FIRST_DIGIT + GUID_CRC_DIGITS; ++i) line[i] = '0';
}

void add_controller_config(const char *mapping, size_t length) {
    // The Ruby String may hold NUL bytes; SDL and the file get the text up to
    // the first one.
    char *line = (char *)SDL_malloc(length + 1);
    if (!line) return;
    SDL_memcpy(line, mapping, length);
    line[length] = 0;
    length = SDL_strlen(line);
    mapping_line_clear_name_crc(line, length);

    SDL_GameControllerAddMapping(line);
    if (char *text = sprintf_alloc("%s\n", line)) {
        if (the_game_state.base_dir)
            appendfile_write_override(the_game_state.base_dir, USER_MAPPINGS_FILE, text, SDL_strlen(text));
        SDL_free(text);
    }
    SDL_free(line);
}

void convert_rawjoystick_to_controller(SDL_JoystickID instance_id) {
    SDL_Joystick *joystick = open_raw_joystick(instance_id);
    if (!joystick) return;
    SDL_JoystickClose(joystick);
    int count = SDL_NumJoysticks();
    for (int device_index = 0; device_index < count; ++device_index) {
        if (SDL_JoystickGetDeviceInstanceID(device_index) != instance_id) continue;
        if (SDL_IsGameController(device_index)) open_game_controller(device_index);
        return;
    }
}

void controller_config_methods_define(mrb_state *mrb, RClass *misc_class) {
    mrb_define_method(mrb, misc_class, "close_raw_joystick", misc_close_raw_joystick, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "add_controller_config", misc_add_controller_config, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, misc_class, "convert_rawjoystick_to_controller", misc_convert_rawjoystick_to_controller,
                      MRB_ARGS_REQ(1));
}
