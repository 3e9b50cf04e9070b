// A growable byte buffer for results that the system hands over by size (the
// DirectSound description blocks). reserve() makes room for at least a number of
// bytes, zeroed, plus an optional number of extra bytes beyond the capacity; growing
// does not keep the old content. The buffer frees what it owns on destruction. One
// owner at a time; not locked, not copyable.
#pragma once

#include <cstdint>

class DataBuffer {
 public:
  DataBuffer() = default;
  virtual ~DataBuffer();
  DataBuffer(const DataBuffer&) = delete;
  DataBuffer& operator=(const DataBuffer&) = delete;

  // Ensures a capacity of at least size bytes (zero-filled when newly allocated) and
  // resets the used length and count to 0. False when the allocation fails; the
  // buffer is then empty and owns nothing.
  bool reserve(std::int32_t size);

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::int32_t capacity() const { return capacity_; }

 private:
  void Release();

  std::uint8_t* data_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int32_t extra_ = 0;   // allocated beyond the capacity; none in this library
  std::int32_t length_ = 0;  // used length, reset by reserve()
  std::int32_t count_ = 0;   // reset with the length
  bool ownsData_ = false;
};
