// Compiles stb_truetype's implementation into the one unit that includes
// this (after defining any STBTT_ hooks), with the warnings its code raises
// under this build's flags silenced.
#pragma once

#define STB_TRUETYPE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_truetype.h>
#pragma GCC diagnostic pop
