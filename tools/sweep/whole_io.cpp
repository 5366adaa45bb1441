#include "whole_io.h"

#include <cerrno>
#include <unistd.h>

namespace kestrune::sweep {

namespace {

// Passes all `size` bytes at `p` through `transfer` (::read or ::write),
// going on after partial transfers and interrupting signals. False at an
// error or at the end of the file.
template <class Byte, class Transfer> bool transferAll(int fd, Byte *p, std::size_t size, Transfer transfer) {
    while (size > 0) {
        const ssize_t n = transfer(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool writeAll(int fd, const void *data, std::size_t size) {
    return transferAll(fd, static_cast<const char *>(data), size, ::write);
}

bool readAll(int fd, void *data, std::size_t size) {
    return transferAll(fd, static_cast<char *>(data), size, ::read);
}

} // namespace kestrune::sweep
