// Values written into and read out of a byte buffer in order, for the
// model's state payload and the image that carries it.
#pragma once

#include <cstddef>
#include <cstring>

namespace kestrune {

// Appends bytes to a buffer; with a null buffer it only counts them, so that
// the same code sizes and writes.
class ByteWriter {
  public:
    explicit ByteWriter(unsigned char *out) : out_(out) {}
    void bytes(const void *data, std::size_t size) {
        if (out_ != nullptr) {
            std::memcpy(out_ + size_, data, size);
        }
        size_ += size;
    }
    template <typename T> void value(const T &v) { bytes(&v, sizeof v); }
    std::size_t size() const { return size_; }

  private:
    unsigned char *out_;
    std::size_t size_ = 0;
};

// Takes bytes from a buffer of known size, never past its end.
class ByteReader {
  public:
    ByteReader(const unsigned char *in, std::size_t size) : in_(in), size_(size) {}
    // False, reading nothing, when fewer than size bytes are left.
    bool bytes(void *data, std::size_t size) {
        if (size > size_ - at_) {
            return false;
        }
        std::memcpy(data, in_ + at_, size);
        at_ += size;
        return true;
    }
    template <typename T> bool value(T &v) { return bytes(&v, sizeof v); }
    // Skips size bytes, returning where they start, or null.
    const unsigned char *skip(std::size_t size) {
        if (size > size_ - at_) {
            return nullptr;
        }
        const unsigned char *start = in_ + at_;
        at_ += size;
        return start;
    }
    bool atEnd() const { return at_ == size_; }

  private:
    const unsigned char *in_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace kestrune
