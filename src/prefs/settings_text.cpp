#include "prefs/settings_text.h"

#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// One line of a file, without its newline: its key and the raw text after the '='.
// A blank line, a comment ('#' or ';' first) and a line without '=' have no key.
struct Line {
  std::string_view key;
  std::string_view rawValue;
};

Line SplitLine(std::string_view line) {
  // A file saved with CRLF line ends reads as one saved with LF: the CR is no part of
  // the value (a CR inside a value is always written escaped).
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#' || line.front() == ';') return {};
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  return {TrimBlanks(line.substr(0, equals)), line.substr(equals + 1)};
}

// Calls visit(line) for each line of file, the last one also when no newline ends it.
template <typename Visit>
void ForEachLine(std::string_view file, Visit&& visit) {
  std::size_t start = 0;
  while (start < file.size()) {
    const std::size_t end = file.find('\n', start);
    const std::size_t stop = end == std::string_view::npos ? file.size() : end;
    if (!visit(file.substr(start, stop - start))) return;
    start = stop + 1;
  }
}

// The character that a backslash followed by c stands for; '\0' when the pair stands
// for itself.
char Decoded(char c) {
  switch (c) {
    case '\\': return '\\';
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    case 's': return ' ';
    default: return '\0';
  }
}

// Leading blanks are dropped: "key = value" reads "value", and "\s" keeps a leading space.
std::string Unescape(std::string_view raw) {
  while (!raw.empty() && IsBlank(raw.front())) raw.remove_prefix(1);
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char decoded = raw[i] == '\\' && i + 1 < raw.size() ? Decoded(raw[i + 1]) : '\0';
    if (decoded != '\0') {
      text += decoded;
      ++i;
    } else {
      text += raw[i];  // any other backslash stays as it is
    }
  }
  return text;
}

void AppendEscaped(std::string& out, std::string_view value) {
  if (!value.empty() && value.front() == ' ') {
    out += "\\s";
    value.remove_prefix(1);
  }
  for (const char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

void AppendSetting(std::string& out, const SettingsText::Change& change) {
  out.append(change.key);
  out += '=';
  AppendEscaped(out, change.value);
  out += '\n';
}

}  // namespace

namespace SettingsText {

std::optional<std::string> FindValue(std::string_view file, std::string_view key) {
  std::optional<std::string> value;
  ForEachLine(file, [&](std::string_view line) {
    const Line split = SplitLine(line);
    if (split.key.empty() || !SameKey(split.key, key)) return true;
    value = Unescape(split.rawValue);
    return false;
  });
  return value;
}

std::string Rewrite(std::string_view file, const Change* changes, std::size_t count) {
  std::vector<bool> written(count, false);
  std::string out;
  out.reserve(file.size() + 64);
  ForEachLine(file, [&](std::string_view line) {
    const Line split = SplitLine(line);
    for (std::size_t i = 0; i < count && !split.key.empty(); ++i) {
      if (!SameKey(split.key, changes[i].key)) continue;
      if (!written[i]) AppendSetting(out, changes[i]);
      written[i] = true;
      return true;
    }
    out.append(line);
    out += '\n';
    return true;
  });
  for (std::size_t i = 0; i < count; ++i) {
    if (!written[i]) AppendSetting(out, changes[i]);
  }
  return out;
}

}  // namespace SettingsText
