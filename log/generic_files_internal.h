// The whole-file reader with its read call passed in, so tests can hand it
// short reads and failures that real files rarely give; the check of the
// temporary-name pattern.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace kel::generic {

using ReadFn = ssize_t (*)(int fd, void *buffer, size_t count);

// Whether pattern is a printf format with exactly one conversion, and that
// one of %u %o %x %X with flags, width and precision at most; "%%" is text.
bool temp_pattern_ok(const char *pattern);

// GENERIC_read_file with read() replaced by readFn.
uint32_t read_file_with(const char *path, uint8_t **buffer, uint32_t *length, ReadFn readFn);

}  // namespace kel::generic
