// A look at compiled Ruby (".rbc") before the interpreter runs it. The
// interpreter trusts a buffer's own size fields, so a cut-off or foreign file
// could make it read past the end; this checks the parts it relies on first.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 when the buffer holds bytecode for the interpreter linked in: the
// identifier and format version, a recorded size equal to the buffer's, and
// sections that tile the buffer up to the end marker. 0 otherwise, with a
// short static text saying what is wrong in *reason (when reason is given).
int bytecode_check(const uint8_t *bytes, size_t size, const char **reason);
