// Reading a Standard MIDI File's bytes: big-endian numbers, variable-length quantities, and
// the bounds of a chunk. Shared by the tag reader and the structure check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio_detail {

class MidiBytes {
 public:
  MidiBytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool AtEnd() const { return p_ >= end_; }
  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* Here() const { return p_; }
  bool Byte(uint8_t& b) {
    if (AtEnd()) return false;
    b = *p_++;
    return true;
  }
  bool Skip(size_t n) {
    if (n > Left()) return false;
    p_ += n;
    return true;
  }
  // A big-endian number of `bytes` bytes (at most 4).
  bool Big(int bytes, uint32_t& v) {
    if (Left() < static_cast<size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | *p_++;
    return true;
  }

  enum class Vlq { Ok, Cut, TooLong };
  // A variable-length quantity: at most four bytes of seven bits.
  Vlq Quantity(uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!Byte(b)) return Vlq::Cut;
      v = v << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return Vlq::Ok;
    }
    return Vlq::TooLong;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace audio_detail
