// The two byte formats between the threads, each defined here once: the
// frame stream (render commands, simulation -> main) and the event batch
// (window-system events, main -> simulation).
//
// Every render command is an int opcode followed by its fields. Each command
// has one record below whose fields follow the stream order, and one layout
// table (in frame_stream.cpp) that its writer and its reader both walk.
// Producers fill a record and call the writer; the interpreter calls the
// reader after the opcode; nothing else lays command bytes out. Runs of
// 4-byte fields are copied in one step, so between their strings the
// records hold only 4-byte numbers, in stream order.
#pragma once

#include "../host/threadstream.h"

#include <SDL2/SDL.h>

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

// Solid, border and line share one layout; a line's w and h carry its far
// end (x2, y2).
struct shape_command {
    float x, y, w, h;
    int32_t r, g, b, a;
};

struct sprite_command {
    threadstream_text path; // absent: the fallback texture
    float x, y, w, h;
    float angle;
    int32_t r, g, b, a;
    float tile_x, tile_y, tile_w, tile_h;
    float source_x, source_y, source_w, source_h;
    uint32_t flip_horizontally, flip_vertically;
    float angle_anchor_x, angle_anchor_y;
};

struct label_command {
    float x, y;
    threadstream_text text; // absent draws nothing
    threadstream_text font; // absent: the default font
    float size_enum;
    int32_t alignment_enum; // 0 left, 1 centre, 2 right
    int32_t r, g, b, a;
};

struct screenshot_command {
    threadstream_text path;
    float x, y, w, h;  // the rectangle captured
    int32_t tolerance; // colour tolerance of the key
    int32_t r, g, b;   // the key colour
    int32_t a;         // the alpha given to pixels of the key colour
};

struct set_grid_command {
    float origin_x, origin_y;
    int32_t y_direction;
};

// Opens the frame's render passes; `count` pass headers follow, each with
// its pass's drawing commands and an end-of-pass word.
struct passes_command {
    int32_t count;
    uint32_t screenshot;
};

struct pass_header {
    int32_t r, g, b, a;       // background
    threadstream_text target; // absent: the screen
    int32_t w, h;
    uint32_t transient;
};

struct pixel_array_command {
    threadstream_text name;
    int32_t w, h;
    threadstream_text pixels; // w * h ABGR8888 values
};

// Writers append the opcode (pass headers have none) and the fields; each
// answers 1, or 0 once the stream's error flag is set.
int frame_write_shape(threadstream *stream, int32_t opcode, const shape_command *command);
int frame_write_sprite(threadstream *stream, const sprite_command *command);
int frame_write_label(threadstream *stream, const label_command *command);
int frame_write_screenshot(threadstream *stream, const screenshot_command *command);
int frame_write_set_grid(threadstream *stream, const set_grid_command *command);
int frame_write_passes(threadstream *stream, const passes_command *command);
int frame_write_pass_header(threadstream *stream, const pass_header *header);
int frame_write_pixel_array(threadstream *stream, const pixel_array_command *command);
// RENDER_CMD_UNLOAD_SPRITE and RENDER_CMD_OPEN_URL: one string.
int frame_write_text_command(threadstream *stream, int32_t opcode, threadstream_text text);
// RENDER_CMD_TOGGLE_CURSOR, RENDER_CMD_TOGGLE_FULLSCREEN: one 0/1 flag;
// RENDER_CMD_END_PASS and RENDER_CMD_NOP take none.
int frame_write_flag_command(threadstream *stream, int32_t opcode, uint32_t flag);
int frame_write_opcode(threadstream *stream, int32_t opcode);

// Readers fill the record from the fields after the opcode. A field past
// the end reads as 0 (a string as empty) and sets the stream's error flag.
void frame_read_shape(threadstream *stream, shape_command *command);
void frame_read_sprite(threadstream *stream, sprite_command *command);
void frame_read_label(threadstream *stream, label_command *command);
void frame_read_screenshot(threadstream *stream, screenshot_command *command);
void frame_read_set_grid(threadstream *stream, set_grid_command *command);
void frame_read_passes(threadstream *stream, passes_command *command);
void frame_read_pass_header(threadstream *stream, pass_header *header);
void frame_read_pixel_array(threadstream *stream, pixel_array_command *command);
threadstream_text frame_read_text_command(threadstream *stream);
uint32_t frame_read_flag_command(threadstream *stream);

// An event batch: an 8-byte event count, then that many SDL_Event records
// of 56 bytes each, exactly as SDL_PollEvent filled them.
//
// Writing (main thread): event_batch_start, then for each event take
// event_batch_slot, let SDL fill it, and keep it with event_batch_add.
bool event_batch_start(threadstream *batch);
// Room for the next event; NULL when the stream cannot grow.
SDL_Event *event_batch_slot(threadstream *batch);
void event_batch_add(threadstream *batch);
uint64_t event_batch_size(const threadstream *batch);
// Reading (simulation thread): the number of events to read with
// event_batch_next; 0 when the batch is damaged (its count overruns it).
uint64_t event_batch_open(threadstream *batch);
void event_batch_next(threadstream *batch, SDL_Event *event);
