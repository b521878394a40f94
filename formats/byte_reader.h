// Little-endian reading of Cal3D's binary records from a bounded buffer:
// every read says whether the bytes were there, so that a reader never runs
// past the end of what it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace rigweave {

class ByteReader {
 public:
  ByteReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  size_t Left() const { return size_ - pos_; }
  // The bytes not read yet, Left() of them.
  const uint8_t* Here() const { return bytes_ + pos_; }
  bool AtEnd() const { return pos_ == size_; }
  bool Int(int32_t& value) { return Raw(&value, 4); }
  bool Float(float& value) { return Raw(&value, 4); }
  bool Floats(float* values, int count) { return Raw(values, 4 * static_cast<size_t>(count)); }
  bool Raw(void* to, size_t count) {
    if (Left() < count) return false;
    if (count == 0) return true;  // `to` may be the null data of an empty buffer
    std::memcpy(to, bytes_ + pos_, count);
    pos_ += count;
    return true;
  }
  bool Skip(size_t count) {
    if (Left() < count) return false;
    pos_ += count;
    return true;
  }
  // A count of records of at least `recordSize` bytes each that the bytes
  // left could hold.
  bool Fits(int32_t count, size_t recordSize) const {
    return count >= 0 && static_cast<size_t>(count) <= Left() / recordSize;
  }
  // A length, then that many bytes; the text is what comes before the
  // first NUL, as both Cal3D lines read it.
  bool String(std::string& text) {
    int32_t length = 0;
    if (!Int(length) || length < 0 || Left() < static_cast<size_t>(length)) return false;
    const char* start = reinterpret_cast<const char*>(bytes_ + pos_);
    text.assign(start, strnlen(start, static_cast<size_t>(length)));
    pos_ += static_cast<size_t>(length);
    return true;
  }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace rigweave
