// The one translation unit that holds the Ogg Vorbis decoder, allocating
// through SDL like the rest of the engine.
#include <SDL2/SDL.h>

#include <alloca.h>
#include <assert.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A damaged file's header fields can ask for absurd sizes (a negative int
// turned into a size_t, or gigabytes for a comment). The decoder checks for
// allocation failure, so such requests are refused like one.
constexpr size_t VORBIS_ALLOCATION_LIMIT = size_t(1) << 30;

// Zeroed, because the decoder's clean-up after a failed header frees every
// slot of a pointer table, also the ones it never filled.
void *vorbis_malloc(size_t size) { return size <= VORBIS_ALLOCATION_LIMIT ? SDL_calloc(1, size) : nullptr; }

void *vorbis_realloc(void *pointer, size_t size) {
    return size <= VORBIS_ALLOCATION_LIMIT ? SDL_realloc(pointer, size) : nullptr;
}

} // namespace

// The C library headers are in already, so these only reach the decoder.
#define malloc(size) vorbis_malloc(size)
#define realloc(pointer, size) vorbis_realloc(pointer, size)
#define free(pointer) SDL_free(pointer)

#define STB_VORBIS_NO_STDIO
// Its old-style code trips GCC's flow analysis in optimised builds only.
#pragma GCC diagnostic push
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb_vorbis.h>
#pragma GCC diagnostic pop
