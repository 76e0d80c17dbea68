// The one translation unit that holds the Ogg Vorbis decoder, allocating
// through SDL like the rest of the engine.
#include <SDL2/SDL.h>

#include <alloca.h>
#include <assert.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

// The C library headers are in already, so these only reach the decoder.
#define malloc(size) SDL_malloc(size)
#define realloc(pointer, size) SDL_realloc(pointer, size)
#define free(pointer) SDL_free(pointer)

#define STB_VORBIS_NO_STDIO
// Its old-style code trips GCC's flow analysis in optimised builds only.
#pragma GCC diagnostic push
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb_vorbis.h>
#pragma GCC diagnostic pop
