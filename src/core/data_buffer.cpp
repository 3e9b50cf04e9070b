#include "core/data_buffer.h"

#include <cstdlib>

DataBuffer::~DataBuffer() {
  Release();
  extra_ = 0;
  length_ = 0;
  count_ = 0;
}

void DataBuffer::Release() {
  if (ownsData_) std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  ownsData_ = false;
}

bool DataBuffer::reserve(std::int32_t size) {
  length_ = 0;
  count_ = 0;
  if (capacity_ < size) {
    Release();
    // Summed in 64 bits: a size near the 32-bit limit plus the extra bytes must not wrap
    // to a small allocation.
    const std::uint64_t total =
        static_cast<std::uint64_t>(size) + static_cast<std::uint64_t>(extra_);
    void* memory = std::calloc(static_cast<std::size_t>(total), 1);
    if (memory == nullptr) return false;
    data_ = static_cast<std::uint8_t*>(memory);
    capacity_ = size;
    ownsData_ = true;
  }
  return true;
}
