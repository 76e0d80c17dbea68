// Feeds arbitrary bytes to the unpackers: whatever a damaged stream holds,
// reading it must stay inside the data and end.
#include "host/threadstream.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = threadstream_init();
    if (!ready) return 0;
    threadstream *s = threadstream_allocate();
    if (!s || !threadstream_claim_space(s, size)) {
        threadstream_free(s);
        return 0;
    }
    if (size) std::memcpy(s->buffer, data, size);
    s->write_pos = size;
    // The first byte picks the sequence of item kinds to read.
    uint8_t pattern = size ? data[0] : 0;
    int step = 0;
    while (!threadstream_eos(s)) {
        uint64_t before = s->read_pos;
        switch ((pattern >> ((step++ % 4) * 2)) & 3) {
        case 0: threadstream_unpack_int(s); break;
        case 1: threadstream_unpack_float(s); break;
        case 2: threadstream_unpack_size_t(s); break;
        default: {
            uint64_t length = 0;
            const char *text = threadstream_unpack_buffer(s, &length);
            if (text && length) {
                volatile char last = text[length - 1];
                (void)last;
                if (text[length] != 0) __builtin_trap();
            }
        }
        }
        if (s->read_pos > s->write_pos) __builtin_trap();
        if (s->read_pos == before && !s->error) __builtin_trap(); // no progress, no error
    }
    threadstream_free(s);
    return 0;
}
