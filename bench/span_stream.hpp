#pragma once

// An input stream over bytes already in memory, without copying them, and seekable so that a
// reader can learn how much is left.

#include <cstdint>
#include <span>
#include <streambuf>

namespace dova::bench {

class SpanStreamBuf : public std::streambuf {
 public:
  explicit SpanStreamBuf(std::span<const std::uint8_t> bytes) {
    // The get area is only read from; streambuf merely lacks a const interface.
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    setg(begin, begin, begin + bytes.size());
  }

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    const off_type size = egptr() - eback();
    const off_type origin = direction == std::ios_base::beg   ? 0
                            : direction == std::ios_base::cur ? gptr() - eback()
                                                              : size;
    const off_type target = origin + offset;
    if (target < 0 || target > size) return pos_type(off_type(-1));
    setg(eback(), eback() + target, egptr());
    return pos_type(target);
  }

  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    return seekoff(off_type(position), std::ios_base::beg, which);
  }
};

}  // namespace dova::bench
