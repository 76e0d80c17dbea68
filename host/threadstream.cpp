#include "threadstream.h"

#include <cstring>

namespace {

SDL_mutex *pool_mutex = nullptr;
void *pool_head = nullptr; // threadstream*, read and written atomically under pool_mutex

const char empty_string[1] = {0};

uint64_t round_up4(uint64_t v) { return (v + 3u) & ~uint64_t(3); }

// Makes room for `needed` bytes in total; sets the sticky flag on failure.
int grow_to(threadstream *stream, uint64_t needed) {
    uint64_t capacity = stream->capacity;
    while (capacity < needed) {
        if (capacity > (UINT64_MAX >> 1)) {
            stream->error = 1;
            return 0;
        }
        capacity <<= 1;
    }
    if (capacity == stream->capacity) return 1;
    if (capacity > SIZE_MAX) {
        stream->error = 1;
        return 0;
    }
    void *grown = SDL_realloc(stream->buffer, (size_t)capacity);
    if (!grown) {
        stream->error = 1;
        return 0;
    }
    stream->buffer = (uint8_t *)grown;
    stream->capacity = capacity;
    return 1;
}

bool writable(const threadstream *stream) { return stream && !stream->error; }

void reset(threadstream *stream) {
    stream->error = 0;
    stream->read_pos = 0;
    stream->write_pos = 0;
}

void pool_push(threadstream *stream) {
    SDL_LockMutex(pool_mutex);
    stream->next = (threadstream *)SDL_AtomicGetPtr(&pool_head);
    SDL_AtomicSetPtr(&pool_head, stream);
    SDL_UnlockMutex(pool_mutex);
}

} // namespace

bool threadstream_init() {
    SDL_AtomicSetPtr(&pool_head, nullptr);
    pool_mutex = SDL_CreateMutex();
    return pool_mutex != nullptr;
}

void threadstream_quit() {
    if (pool_mutex) SDL_LockMutex(pool_mutex);
    threadstream *stream = (threadstream *)SDL_AtomicGetPtr(&pool_head);
    SDL_AtomicSetPtr(&pool_head, nullptr);
    if (pool_mutex) SDL_UnlockMutex(pool_mutex);
    while (stream) {
        threadstream *next = stream->next;
        SDL_free(stream->buffer);
        SDL_free(stream);
        stream = next;
    }
    if (pool_mutex) SDL_DestroyMutex(pool_mutex);
    pool_mutex = nullptr;
}

threadstream *threadstream_allocate() {
    threadstream *stream = nullptr;
    if (pool_mutex) {
        SDL_LockMutex(pool_mutex);
        stream = (threadstream *)SDL_AtomicGetPtr(&pool_head);
        if (stream) SDL_AtomicSetPtr(&pool_head, stream->next);
        SDL_UnlockMutex(pool_mutex);
    }
    if (stream) {
        stream->next = nullptr;
        return stream;
    }
    stream = (threadstream *)SDL_calloc(1, sizeof(threadstream));
    if (!stream) return nullptr;
    stream->buffer = (uint8_t *)SDL_malloc(THREADSTREAM_INITIAL_CAPACITY);
    if (!stream->buffer) {
        SDL_free(stream);
        return nullptr;
    }
    stream->capacity = THREADSTREAM_INITIAL_CAPACITY;
    return stream;
}

void threadstream_free(threadstream *stream) {
    if (!stream) return;
    reset(stream);
    pool_push(stream);
}

int threadstream_claim_space(threadstream *stream, uint64_t n) {
    if (!writable(stream)) return 0;
    if (n > UINT64_MAX - stream->write_pos) {
        stream->error = 1;
        return 0;
    }
    return grow_to(stream, stream->write_pos + n);
}

int threadstream_pack_int(threadstream *stream, int32_t value) {
    if (!threadstream_claim_space(stream, 4)) return 0;
    std::memcpy(stream->buffer + stream->write_pos, &value, 4);
    stream->write_pos += 4;
    return 1;
}

int threadstream_pack_float(threadstream *stream, float value) { return threadstream_pack_words(stream, &value, 4); }


int threadstream_pack_buffer(threadstream *stream, const void *data, uint64_t length) {
    if (!writable(stream)) return 0;
    if (!data) {
        uint32_t absent = THREADSTREAM_ABSENT;
        return threadstream_pack_words(stream, &absent, 4);
    }
    // A length that does not fit the 32-bit field (or that would read as the
    // absent marker) cannot be carried: refuse it rather than truncate.
    if (length > THREADSTREAM_MAX_ITEM) {
        stream->error = 1;
        return 0;
    }
    if (!threadstream_claim_space(stream, 4 + length + 1)) return 0;
    uint32_t len32 = (uint32_t)length;
    uint8_t *at = stream->buffer + stream->write_pos;
    std::memcpy(at, &len32, 4);
    if (length) std::memcpy(at + 4, data, (size_t)length);
    uint64_t end = round_up4(stream->write_pos + 4 + length + 1);
    // The NUL and the padding after it are zero, so equal frames are equal
    // byte for byte.
    std::memset(at + 4 + length, 0, (size_t)(end - (stream->write_pos + 4 + length)));
    stream->write_pos = end;
    return 1;
}

int threadstream_pack_string(threadstream *stream, const char *text) {
    return threadstream_pack_buffer(stream, text, text ? std::strlen(text) : 0);
}

static bool has_bytes(const threadstream *stream, uint64_t n) {
    return stream->write_pos >= stream->read_pos && stream->write_pos - stream->read_pos >= n;
}

void threadstream_unpack_short_words(threadstream *stream, void *words, uint64_t n) {
    // The whole fields that are there, then zeros; the position stays on
    // the first missing field, as reading field by field would leave it.
    uint64_t whole = 0;
    if (stream) {
        whole = stream->write_pos > stream->read_pos ? (stream->write_pos - stream->read_pos) & ~uint64_t(3) : 0;
        std::memcpy(words, stream->buffer + stream->read_pos, (size_t)whole);
        stream->read_pos += whole;
        stream->error = 1;
    }
    std::memset((uint8_t *)words + whole, 0, (size_t)(n - whole));
}

int32_t threadstream_unpack_int(threadstream *stream) {
    int32_t value;
    threadstream_unpack_words(stream, &value, 4);
    return value;
}

float threadstream_unpack_float(threadstream *stream) {
    float value;
    threadstream_unpack_words(stream, &value, 4);
    return value;
}

uint64_t threadstream_unpack_size_t(threadstream *stream) {
    // One 8-byte field: all of it or nothing.
    if (stream && !has_bytes(stream, 8)) {
        stream->error = 1;
        return 0;
    }
    uint64_t value;
    threadstream_unpack_words(stream, &value, 8);
    return value;
}

const char *threadstream_unpack_buffer(threadstream *stream, uint64_t *out_length) {
    if (out_length) *out_length = 0;
    if (!stream) return empty_string;
    if (!has_bytes(stream, 4)) {
        stream->error = 1;
        return empty_string;
    }
    uint32_t length;
    std::memcpy(&length, stream->buffer + stream->read_pos, 4);
    stream->read_pos += 4;
    if (length == THREADSTREAM_ABSENT) return nullptr;
    if (!has_bytes(stream, (uint64_t)length + 1)) {
        stream->error = 1;
        return empty_string;
    }
    char *data = (char *)stream->buffer + stream->read_pos;
    // The writer always stores the NUL, but a damaged stream must not hand
    // out an unterminated string.
    data[length] = 0;
    if (out_length) *out_length = length;
    stream->read_pos = round_up4(stream->read_pos + length + 1);
    if (stream->read_pos > stream->write_pos) stream->read_pos = stream->write_pos;
    return data;
}

const char *threadstream_unpack_string(threadstream *stream, uint64_t *out_length) {
    return threadstream_unpack_buffer(stream, out_length);
}

bool threadstream_eos(const threadstream *stream) {
    return !stream || stream->read_pos >= stream->write_pos || stream->error;
}

threadstreamqueue *threadstreamqueue_allocate() {
    threadstreamqueue *queue = (threadstreamqueue *)SDL_calloc(1, sizeof(threadstreamqueue));
    if (!queue) return nullptr;
    queue->mutex = SDL_CreateMutex();
    queue->taken = queue->mutex ? SDL_CreateCond() : nullptr;
    if (!queue->taken) {
        if (queue->mutex) SDL_DestroyMutex(queue->mutex);
        SDL_free(queue);
        return nullptr;
    }
    SDL_AtomicSet(&queue->count, 0);
    return queue;
}

void threadstreamqueue_putitem(threadstreamqueue *queue, threadstream *stream) {
    if (!queue || !stream) return;
    SDL_LockMutex(queue->mutex);
    if (queue->tail)
        queue->tail->next = stream;
    else
        queue->head = stream;
    queue->tail = stream;
    SDL_UnlockMutex(queue->mutex);
    SDL_AtomicAdd(&queue->count, 1);
}

threadstream *threadstreamqueue_getitem(threadstreamqueue *queue) {
    if (!queue) return nullptr;
    SDL_LockMutex(queue->mutex);
    threadstream *stream = queue->head;
    if (stream) {
        queue->head = stream->next;
        stream->next = nullptr;
        if (!queue->head) queue->tail = nullptr;
        SDL_AtomicAdd(&queue->count, -1);
        SDL_CondSignal(queue->taken);
    }
    SDL_UnlockMutex(queue->mutex);
    return stream;
}

int threadstreamqueue_getcount(threadstreamqueue *queue) {
    return queue ? SDL_AtomicGet(&queue->count) : 0;
}

void threadstreamqueue_wait_below(threadstreamqueue *queue, int limit) {
    if (!queue || limit < 1) return;
    // The count only falls under the mutex, and the signal is sent under it
    // too, so a take between the test and the wait cannot be missed.
    SDL_LockMutex(queue->mutex);
    while (SDL_AtomicGet(&queue->count) >= limit) SDL_CondWait(queue->taken, queue->mutex);
    SDL_UnlockMutex(queue->mutex);
}

void threadstreamqueue_free(threadstreamqueue *queue) {
    if (!queue) return;
    while (threadstream *stream = threadstreamqueue_getitem(queue)) threadstream_free(stream);
    SDL_DestroyCond(queue->taken);
    SDL_DestroyMutex(queue->mutex);
    SDL_free(queue);
}
