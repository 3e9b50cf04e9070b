// KESTREL_LOG's output: reading the setting, switching the library's writer, and the
// writer itself, which turns each record into one line.
#include "log/log_output.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "log/log_base.h"
#include "log/log_header.h"
#include "log/log_state.h"
#include "log/utf8_rule.h"

namespace {

struct OutputLevel {
  const char* name;
  std::int32_t maxLevel;
};
// What each LEVEL takes; a line shows the first name whose levels include its own.
constexpr OutputLevel kOutputLevels[] = {{"error", 2}, {"info", 6}, {"debug", kLogLevelMask}};

// A line goes to the destination in pieces of at most this many bytes: one piece, and so
// one write, for any line but the longest.
constexpr std::size_t kPieceSize = 8000;

void WriteRecord(LogWriter* writer, const LogRecordHeader* header, std::size_t length,
                 const char* text);

// The library's output, and the setting it was made from ("" while unset). Used only under
// the library state's lock: the writer is called under it, and LogApplySetting takes it.
struct Output {
  LogWriter writer;
  LogDestination* destination;
  char piece[kPieceSize];
  std::size_t used;
};
Output g_output = {{-1, &WriteRecord}, nullptr, {}, 0};
std::string g_setting;
// Whether a destination was ever opened; read without the lock at unload.
std::atomic<bool> g_opened{false};

void Flush() {
  if (g_output.used > 0) {
    Base_WriteLogDestination(g_output.destination, g_output.piece, g_output.used);
  }
  g_output.used = 0;
}

// Adds bytes that belong together (a character, or its escape) to the piece.
void Put(const char* bytes, std::size_t size) {
  if (g_output.used + size > kPieceSize) Flush();
  std::memcpy(g_output.piece + g_output.used, bytes, size);
  g_output.used += size;
}

void WriteRecord(LogWriter* /*writer*/, const LogRecordHeader* header, std::size_t length,
                 const char* text) {
  const char* levelName = nullptr;  // the last row takes every level
  for (const OutputLevel& row : kOutputLevels) {
    levelName = row.name;
    if (static_cast<std::int32_t>(header->level->level) <= row.maxLevel) break;
  }
  char prefix[160];
  const int prefixLength = Base_Sprintf(
      prefix, sizeof prefix, "%s%s%s %lu %s %s: ", header->dateTime, header->milliseconds,
      header->zone, static_cast<unsigned long>(header->threadId), levelName, header->subsystem);
  if (prefixLength > 0) Put(prefix, static_cast<std::size_t>(prefixLength));
  if (length > 0 && text[length - 1] == '\n') --length;  // every record ends in one
  EscapeLogText(text, length, [](const char* bytes, std::size_t size) { Put(bytes, size); });
  Put("\n", 1);
  Flush();
}

bool SameWord(std::string_view text, std::size_t length, const char* word) {
  if (length != std::strlen(word)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

LogSetting ParseLogSetting(std::string_view text) {
  const std::size_t colon = text.find(':');
  LogSetting parsed;
  for (const OutputLevel& row : kOutputLevels) {
    if (SameWord(text, colon != std::string_view::npos ? colon : text.size(), row.name)) {
      parsed.maxLevel = row.maxLevel;
    }
  }
  if (parsed.maxLevel >= 0 && colon != std::string_view::npos) {
    parsed.hasPath = true;
    parsed.pathStart = colon + 1;
  }
  return parsed;
}

// The text on one line: control characters (C0, DEL and C1) and bytes that are not UTF-8
// as \n, \r, \t or \xHH, so that a device name holding a newline cannot start a line; a
// backslash before n, r, t or x as \x5C, so that the line reads back as the text.
void EscapeLogText(const char* text, std::size_t size,
                   const std::function<void(const char*, std::size_t)>& put) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < size;) {
    const std::size_t length = Utf8CharacterLength(bytes + i, size - i);
    const bool control = length == 1 ? bytes[i] < 0x20 || bytes[i] == 0x7F
                                     : length == 2 && bytes[i] == 0xC2 && bytes[i + 1] < 0xA0;
    // A backslash that would read as an escape with what follows, so that a line reads
    // back as its text (C:\new as C:\x5Cnew).
    const bool backslash = bytes[i] == '\\' && i + 1 < size &&
                           std::strchr("nrtx", text[i + 1]) != nullptr && text[i + 1] != '\0';
    if (length != 0 && !control && !backslash) {
      put(text + i, length);
      i += length;
      continue;
    }
    for (std::size_t end = i + (length != 0 ? length : 1); i < end; ++i) {
      constexpr char kHex[] = "0123456789ABCDEF";
      const char escape[4] = {'\\', 'x', kHex[bytes[i] >> 4], kHex[bytes[i] & 0xF]};
      const char* named = bytes[i] == '\n'   ? "\\n"
                          : bytes[i] == '\r' ? "\\r"
                          : bytes[i] == '\t' ? "\\t"
                                             : nullptr;
      put(named != nullptr ? named : escape, named != nullptr ? 2 : sizeof escape);
    }
  }
}

void LogApplySetting(const char* setting) noexcept {
  LogState* state = &LogLibraryState();
  try {
    std::string text = setting != nullptr ? setting : "";
    // Most calls find the value applied already: nothing to open then.
    if (!LogState_Lock(state)) return;
    const bool same = text == g_setting;
    LogState_Unlock(state);
    if (same) return;

    const LogSetting parsed = ParseLogSetting(text);
    const std::int32_t maxLevel = parsed.maxLevel;
    LogDestination* destination = nullptr;
    if (maxLevel >= 0) {
      destination =
          Base_OpenLogDestination(parsed.hasPath ? text.c_str() + parsed.pathStart : nullptr);
    }
    LogDestination* unused = destination;
    if (LogState_Lock(state)) {
      if (text != g_setting) {
        unused = std::exchange(g_output.destination, destination);
        g_output.writer.maxLevel = maxLevel;
        g_setting.swap(text);
        if (destination != nullptr) g_opened.store(true);
        const std::int32_t wanted = destination != nullptr && maxLevel > kLogLibraryRecordThreshold
                                        ? maxLevel
                                        : kLogLibraryRecordThreshold;
        state->defaultThresholds.recordThreshold.store(wanted);
        LogState_SetWriter(state, destination != nullptr ? &g_output.writer : nullptr);
      }
      LogState_Unlock(state);
    }
    Base_CloseLogDestination(unused);
  } catch (...) {
    // Out of memory: the log stays as it was.
  }
}

void LogFollowEnvironment() noexcept {
  const std::uint32_t lastError = Base_GetLastError();
  try {
    std::string value;
    const bool set = Base_ReadLogSetting(&value);
    LogApplySetting(set ? value.c_str() : nullptr);
  } catch (...) {
    // Out of memory: the log stays as it was.
  }
  Base_SetLastError(lastError);
}

namespace {
// A host may load and unload the library many times: the file goes with it. Without one
// the lock is left alone: at process exit a thread that held it may have been ended.
struct CloseAtUnload {
  CloseAtUnload() = default;
  CloseAtUnload(const CloseAtUnload&) = delete;
  CloseAtUnload& operator=(const CloseAtUnload&) = delete;
  ~CloseAtUnload() {
    if (g_opened.load()) LogApplySetting(nullptr);
  }
} g_closeAtUnload;
}  // namespace
