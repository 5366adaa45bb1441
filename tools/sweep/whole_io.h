// Whole buffers through file descriptors: a read or write goes on after an
// interruption by a signal or a short transfer.
#pragma once

#include <cstddef>

namespace kestrune::sweep {

// False when the descriptor fails (errno says why) or, reading, ends first.
bool writeAll(int fd, const void *data, std::size_t size);
bool readAll(int fd, void *data, std::size_t size);

} // namespace kestrune::sweep
