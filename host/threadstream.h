// Thread streams: growable byte buffers that carry event batches from the
// main thread to the simulation thread and frame streams back. Items are
// 4-byte aligned so the reader can load them in place, and strings keep their
// NUL inside the stream so the reader hands out pointers without copying.
#pragma once

#include <SDL2/SDL.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct threadstream {
    uint8_t *buffer;
    uint64_t read_pos;
    uint64_t write_pos;
    uint64_t capacity;  // 1024 * 2^k
    int32_t error;      // sticky until the stream is freed
    threadstream *next; // pool free list or queue link; NULL while held
};

struct threadstreamqueue {
    SDL_mutex *mutex;   // guards head, tail and the links of queued streams
    SDL_cond *taken;    // signalled under mutex each time a stream is taken out
    threadstream *head;
    threadstream *tail;
    SDL_atomic_t count; // readable without the mutex
};

// A string or buffer item: bytes == NULL is the absent form (nil). What the
// reader hands out points into the stream and ends in a NUL.
struct threadstream_text {
    const char *bytes;
    uint64_t length;
};

// Length value that marks an absent (NULL / nil) buffer or string.
constexpr uint32_t THREADSTREAM_ABSENT = 0xFFFFFFFFu;
// The largest data length one item can carry.
constexpr uint64_t THREADSTREAM_MAX_ITEM = 0xFFFFFFFEull;
constexpr uint64_t THREADSTREAM_INITIAL_CAPACITY = 1024;

bool threadstream_init();
void threadstream_quit();
threadstream *threadstream_allocate();
void threadstream_free(threadstream *stream);

int threadstream_pack_int(threadstream *stream, int32_t value);
int threadstream_pack_float(threadstream *stream, float value);
int threadstream_pack_buffer(threadstream *stream, const void *data, uint64_t length);
int threadstream_pack_string(threadstream *stream, const char *text);
inline int threadstream_pack_text(threadstream *stream, threadstream_text text) {
    return threadstream_pack_buffer(stream, text.bytes, text.length);
}
int threadstream_claim_space(threadstream *stream, uint64_t n);
// A run of n bytes of 4-byte fields (ints and floats) copied as they lie in
// memory: a record whose fields follow the stream order is written or read
// in one step. A short stream reads its missing fields as 0 and sets error.
// Inline, so that a run of a size known where it is called is copied
// without a call (a sprite's 21 fields, thousands of times a frame).
inline int threadstream_pack_words(threadstream *stream, const void *words, uint64_t n) {
    if (!threadstream_claim_space(stream, n)) return 0;
    std::memcpy(stream->buffer + stream->write_pos, words, (size_t)n);
    stream->write_pos += n;
    return 1;
}
void threadstream_unpack_short_words(threadstream *stream, void *words, uint64_t n);
inline void threadstream_unpack_words(threadstream *stream, void *words, uint64_t n) {
    if (!stream || stream->write_pos < stream->read_pos || stream->write_pos - stream->read_pos < n)
        return threadstream_unpack_short_words(stream, words, n);
    std::memcpy(words, stream->buffer + stream->read_pos, (size_t)n);
    stream->read_pos += n;
}

int32_t threadstream_unpack_int(threadstream *stream);
float threadstream_unpack_float(threadstream *stream);
uint64_t threadstream_unpack_size_t(threadstream *stream);
const char *threadstream_unpack_buffer(threadstream *stream, uint64_t *out_length);
const char *threadstream_unpack_string(threadstream *stream, uint64_t *out_length);
inline threadstream_text threadstream_unpack_text(threadstream *stream) {
    threadstream_text text;
    text.bytes = threadstream_unpack_buffer(stream, &text.length);
    return text;
}
bool threadstream_eos(const threadstream *stream);

threadstreamqueue *threadstreamqueue_allocate();
void threadstreamqueue_putitem(threadstreamqueue *queue, threadstream *stream);
threadstream *threadstreamqueue_getitem(threadstreamqueue *queue);
int threadstreamqueue_getcount(threadstreamqueue *queue);
// Blocks the calling thread while the queue holds `limit` streams or more,
// until another thread takes one out. Meant for a queue's one producer, so
// that the room it waited for is still there when it puts its stream. A
// limit below 1 is no limit.
void threadstreamqueue_wait_below(threadstreamqueue *queue, int limit);
void threadstreamqueue_free(threadstreamqueue *queue);

// Packers that take Ruby values live in threadstream_ruby.cpp so that this
// unit stays free of the interpreter.
