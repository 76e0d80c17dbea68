// The native side of the controller-configuration screen: FFI::Misc methods
// that close a raw joystick, save a learned mapping, and turn a raw joystick
// into a game controller in a player slot.
#pragma once

#include "../host/mruby_api.h"

#include <SDL2/SDL.h>

#include <cstddef>

// Defines close_raw_joystick, add_controller_config and
// convert_rawjoystick_to_controller on the FFI::Misc class.
void controller_config_methods_define(mrb_state *mrb, RClass *misc_class);

// SDL's GUID text carries a CRC of the device name in hex digits 5 to 8, and
// SDL zeroes that field of a device's GUID before comparing it with its
// mappings: a mapping line whose GUID keeps the CRC is accepted and then
// never matches. Zeroes that field when the line starts with a 32-digit GUID.
void mapping_line_clear_name_crc(char *line, size_t length);

// Adds the line to SDL's controller database and appends it, with a newline,
// to "user_controller_mappings.txt" in the base directory. Both results are
// ignored, as the configuration screen reports nothing.
void add_controller_config(const char *mapping, size_t length);

// Closes the open raw joystick with that instance id; when SDL then sees the
// device as a game controller it is opened into a free player slot.
void convert_rawjoystick_to_controller(SDL_JoystickID instance_id);
