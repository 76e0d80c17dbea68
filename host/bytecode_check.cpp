#include "bytecode_check.h"

#include <cstring>

namespace {

// The format written by the linked interpreter's compiler (3.x).
constexpr char IDENTIFIER[] = "RITE";
constexpr char FORMAT_VERSION[] = "0300";
constexpr char INSTRUCTION_VERSION[] = "0300";
constexpr size_t HEADER_SIZE = 20; // identifier, version, size, compiler name and version
constexpr size_t SECTION_HEADER_SIZE = 8; // identifier and size
constexpr size_t IREP_HEADER_SIZE = 12; // the section header and the instruction version

uint32_t big_endian_32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

int fail(const char **reason, const char *text) {
    if (reason) *reason = text;
    return 0;
}

} // namespace

int bytecode_check(const uint8_t *bytes, size_t size, const char **reason) {
    if (!bytes || size < HEADER_SIZE || std::memcmp(bytes, IDENTIFIER, 4) != 0)
        return fail(reason, "it is not compiled Ruby");
    if (std::memcmp(bytes + 4, FORMAT_VERSION, 4) != 0)
        return fail(reason, "it was compiled for another version of the interpreter");
    if (big_endian_32(bytes + 8) != size)
        return fail(reason, "its recorded size does not match the file (cut off or damaged)");
    size_t at = HEADER_SIZE;
    while (size - at >= SECTION_HEADER_SIZE) {
        const uint8_t *section = bytes + at;
        uint32_t length = big_endian_32(section + 4);
        if (length < SECTION_HEADER_SIZE || length > size - at)
            return fail(reason, "a section runs past the end of the file");
        if (std::memcmp(section, "END\0", 4) == 0) {
            if (at + length != size) return fail(reason, "there is data after its end marker");
            return 1;
        }
        if (std::memcmp(section, "IREP", 4) == 0 &&
            (length < IREP_HEADER_SIZE || std::memcmp(section + 8, INSTRUCTION_VERSION, 4) != 0))
            return fail(reason, "its code was compiled for another version of the interpreter");
        at += length;
    }
    return fail(reason, "it has no end marker (cut off)");
}
