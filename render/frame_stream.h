// Opcodes of the render commands carried in a frame stream. Every command is
// an int opcode followed by its fields (see the writers in draw_methods.cpp
// and the reader in draw_commands.cpp).
#pragma once

enum render_command_opcode : int {
    RENDER_CMD_NOP = 0,
    RENDER_CMD_SOLID = 1,
    RENDER_CMD_SPRITE = 2,
    RENDER_CMD_LABEL = 3,
    RENDER_CMD_LINE = 4,
    RENDER_CMD_BORDER = 5,
    RENDER_CMD_SCREENSHOT = 6,
    RENDER_CMD_SET_GRID = 7,
    RENDER_CMD_PASSES = 8,
    RENDER_CMD_END_PASS = 9,
    RENDER_CMD_UNLOAD_SPRITE = 10,
    RENDER_CMD_TOGGLE_CURSOR = 11,
    RENDER_CMD_TOGGLE_FULLSCREEN = 12,
    RENDER_CMD_UPLOAD_PIXEL_ARRAY = 13,
    RENDER_CMD_OPEN_URL = 14,
};
