// Fuzzes the UTF-8 trim, the formatting/masking path and the ring's push/pop, checking
// the ring's accounting against a model after every step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "log_test_state.h"

namespace {

#define CHECK(condition)                                                          \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

constexpr std::size_t kOverhead = 2 + sizeof(LogRecordHeader);

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
  std::uint8_t Byte() { return position < size ? data[position++] : 0; }
  std::size_t Take(std::size_t wanted, std::string& out) {
    const std::size_t count = wanted < size - position ? wanted : size - position;
    out.assign(reinterpret_cast<const char*>(data + position), count);
    position += count;
    return count;
  }
  bool Done() const { return position >= size; }
};

void CheckRing(const LogRing& ring, const std::deque<std::string>& model) {
  std::uint64_t expected = 0;
  for (const std::string& text : model) expected += text.size() + kOverhead;
  CHECK(ring.used == expected);
  CHECK(ring.used <= ring.capacity);
  CHECK(ring.read >= ring.start && ring.read < ring.start + ring.capacity);
  CHECK(ring.write >= ring.start && ring.write < ring.start + ring.capacity);
  const std::uint64_t distance =
      (static_cast<std::uint64_t>(ring.write - ring.read) + ring.capacity) % ring.capacity;
  CHECK(distance == ring.used % ring.capacity);
}

void CheckTrim(const std::string& content, std::size_t size) {
  std::vector<char> buffer(size + 1, 0x5A);
  std::memcpy(buffer.data(), content.data(), size - 1);
  buffer[size - 1] = '\0';
  const std::size_t length = LogTrimUtf8(size, buffer.data());
  if (size < 2) {
    CHECK(length == 0);
  } else {
    CHECK(length >= 1 && length <= size - 1);
    CHECK(buffer[length - 1] == '\n');
    CHECK(buffer[length] == '\0');
    CHECK(std::memcmp(buffer.data(), content.data(), length - 1) == 0);
  }
  CHECK(buffer[size] == 0x5A);
}

bool HasSequence(const char* text, std::size_t length) {
  for (std::size_t i = 0; i + 3 <= length; ++i) {
    if ((text[i] | 0x20) == 'z' && (text[i + 1] | 0x20) == 'q' && (text[i + 2] | 0x20) == 'x') {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input{data, size};
  const std::size_t capacity = 300 + (input.Byte() | (input.Byte() << 8)) % 3000;
  std::vector<std::uint8_t> storage(capacity + 1, 0xEE);
  LogRing ring;
  LogRing_Init(&ring, storage.data(), capacity);
  std::deque<std::string> model;
  static kestrel_test::TestLogState log(4096);

  while (!input.Done()) {
    const std::uint8_t operation = input.Byte();
    std::string text;
    switch (operation % 4) {
      case 0: {  // push
        input.Take((input.Byte() | (input.Byte() << 8)) % (capacity + 50), text);
        LogRecordHeader header{};
        LogRing_Push(&ring, &header, text.size(), text.data());
        if (text.size() + kOverhead <= capacity) {
          while (!model.empty()) {
            std::uint64_t used = 0;
            for (const std::string& kept : model) used += kept.size() + kOverhead;
            if (text.size() + kOverhead < capacity - used) break;
            model.pop_front();
          }
          model.push_back(text);
        }
        break;
      }
      case 1: {  // pop, into a buffer that may be too small
        const std::size_t textCapacity = 1 + input.Byte() * 4;
        std::vector<char> out(textCapacity + 1, 0x5A);
        LogRecordHeader header;
        std::size_t length = 0;
        const bool popped = LogRing_Pop(&ring, textCapacity, &header, &length, out.data());
        CHECK(popped == !model.empty());
        if (popped) {
          const std::string expected = model.front();
          model.pop_front();
          CHECK(out[textCapacity] == 0x5A);
          if (expected.size() < textCapacity) {
            CHECK(std::string(out.data(), length) == expected);
          } else {
            CHECK(length < textCapacity);
          }
        }
        break;
      }
      case 2: {  // trim
        input.Take(input.Byte() + 1, text);
        if (!text.empty()) CheckTrim(text, text.size() + 1);
        break;
      }
      case 3: {  // format, newline and masking through the facility
        input.Take(input.Byte() * 3, text);
        log.state()->defaultThresholds.recordThreshold = 31;
        log.Log(operation >> 3, "%s", text.c_str());
        for (const kestrel_test::PoppedRecord& record : log.Drain()) {
          CHECK(!record.text.empty() && record.text.back() == '\n');
          CHECK(!HasSequence(record.text.data(), record.text.size()));
        }
        break;
      }
    }
    CheckRing(ring, model);
    CHECK(storage[capacity] == 0xEE);
  }
  return 0;
}
