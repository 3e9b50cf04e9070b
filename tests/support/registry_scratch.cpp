#include "support/registry_scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace kestrel_test {
namespace {

// Closes the key on scope exit; the tests' own small owner, independent of the
// library's so that a fault there cannot hide in the fixtures.
class KeyCloser {
 public:
  KeyCloser() = default;
  ~KeyCloser() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring Describe(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
  std::wstring text = root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\";
  text += subKey;
  if (!valueName.empty()) text += L" : " + valueName;
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// The prefixes "A", "A\B", "A\B\C" of a key path.
std::vector<std::wstring> PathPrefixes(const std::wstring& subKey) {
  std::vector<std::wstring> prefixes;
  for (std::size_t pos = subKey.find(L'\\'); pos != std::wstring::npos;
       pos = subKey.find(L'\\', pos + 1)) {
    prefixes.push_back(subKey.substr(0, pos));
  }
  prefixes.push_back(subKey);
  return prefixes;
}

// The shortest prefix of subKey that does not exist; empty when the whole path exists.
std::wstring FirstMissingComponent(HKEY root, const std::wstring& subKey, REGSAM view) {
  for (const std::wstring& prefix : PathPrefixes(subKey)) {
    if (!RegistryKeyExists(root, prefix, view)) return prefix;
  }
  return std::wstring();
}

bool KeyIsEmpty(HKEY root, const std::wstring& subKey, REGSAM view) {
  KeyCloser key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD subKeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                       &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return subKeys == 0 && values == 0;
}

// Deletes subKey and then its ancestors, leaf first, down to (and including)
// stopAt, each only while it is empty. Keys that others still use stay.
void DeleteEmptyKeysUpTo(HKEY root, const std::wstring& subKey, const std::wstring& stopAt,
                         REGSAM view) {
  if (stopAt.empty()) return;
  std::vector<std::wstring> prefixes = PathPrefixes(subKey);
  for (auto it = prefixes.rbegin(); it != prefixes.rend(); ++it) {
    if (it->size() < stopAt.size()) break;
    if (RegistryKeyExists(root, *it, view)) {
      if (!KeyIsEmpty(root, *it, view)) break;
      LONG status = RegDeleteKeyExW(root, it->c_str(), view, 0);
      if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot delete scratch key " << Narrow(Describe(root, *it, L""))
                      << ": error " << status;
        break;
      }
    }
  }
}

void DeleteTree(HKEY root, const std::wstring& subKey, REGSAM view) {
  {
    KeyCloser key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_ALL_ACCESS | view, key.receive()) !=
        ERROR_SUCCESS) {
      return;
    }
    LONG status = RegDeleteTreeW(key.get(), nullptr);
    if (status != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot empty key " << Narrow(Describe(root, subKey, L""))
                    << ": error " << status;
    }
  }
  LONG status = RegDeleteKeyExW(root, subKey.c_str(), view, 0);
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot delete key " << Narrow(Describe(root, subKey, L""))
                  << ": error " << status;
  }
}

// Stores exactly byteCount bytes. The registry adds a terminator's length to a text
// when the code unit just past the given data is NUL, so the copy is followed by
// non-NUL padding; the stored size is then checked.
void WriteExact(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                REGSAM view, DWORD type, const void* data, std::size_t byteCount) {
  KeyCloser key;
  LONG status = RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | KEY_QUERY_VALUE | view, nullptr,
                                key.receive(), nullptr);
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create " << Narrow(Describe(root, subKey, L"")) << ": error "
                  << status;
    return;
  }
  std::vector<std::uint8_t> padded(byteCount + 4, 0x41);
  if (byteCount != 0) std::memcpy(padded.data(), data, byteCount);
  status = RegSetValueExW(key.get(), valueName.c_str(), 0, type, padded.data(),
                          static_cast<DWORD>(byteCount));
  if (status != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot store " << Narrow(Describe(root, subKey, valueName))
                  << ": error " << status;
    return;
  }
  DWORD storedType = 0;
  DWORD storedSize = 0;
  status = RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &storedType, nullptr,
                            &storedSize);
  if (status != ERROR_SUCCESS || storedType != type || storedSize != byteCount) {
    ADD_FAILURE() << "stored " << Narrow(Describe(root, subKey, valueName)) << " reads back as "
                  << storedSize << " bytes of type " << storedType << " instead of "
                  << byteCount << " bytes of type " << type;
  }
}

void DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                 REGSAM view) {
  KeyCloser key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE | view, key.receive()) !=
      ERROR_SUCCESS) {
    return;  // no key, no value
  }
  LONG status = RegDeleteValueW(key.get(), valueName.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    ADD_FAILURE() << "cannot delete " << Narrow(Describe(root, subKey, valueName))
                  << ": error " << status;
  }
}

void SaveTree(HKEY root, const std::wstring& subKey, const std::wstring& relativePath,
              REGSAM view, std::vector<ScopedRegistryKeyAbsent::SavedKey>& out) {
  std::wstring path = relativePath.empty() ? subKey : subKey + L"\\" + relativePath;
  KeyCloser key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.receive()) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open " << Narrow(Describe(root, path, L"")) << " to save it";
    return;
  }
  ScopedRegistryKeyAbsent::SavedKey saved;
  saved.relativePath = relativePath;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    std::optional<RegistryValueData> data = ReadRegistryValue(root, path, name, view);
    if (data) saved.values.emplace_back(std::wstring(name, nameLength), std::move(*data));
  }
  out.push_back(std::move(saved));
  std::vector<std::wstring> children;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    children.emplace_back(name, nameLength);
  }
  for (const std::wstring& child : children) {
    SaveTree(root, subKey, relativePath.empty() ? child : relativePath + L"\\" + child, view,
             out);
  }
}

}  // namespace

std::optional<RegistryValueData> ReadRegistryValue(HKEY root, const std::wstring& subKey,
                                                   const std::wstring& valueName, REGSAM view) {
  KeyCloser key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.receive()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValueData data;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &data.type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.bytes.resize(size);
  if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &data.type,
                       size != 0 ? data.bytes.data() : nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.bytes.resize(size);
  return data;
}

bool RegistryKeyExists(HKEY root, const std::wstring& subKey, REGSAM view) {
  KeyCloser key;
  return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.receive()) ==
         ERROR_SUCCESS;
}

ScopedRegistryValue::ScopedRegistryValue(HKEY root, std::wstring valueName,
                                         std::wstring subKey, REGSAM view)
    : root_(root),
      subKey_(std::move(subKey)),
      valueName_(std::move(valueName)),
      view_(view),
      previous_(ReadRegistryValue(root_, subKey_, valueName_, view_)),
      firstCreatedComponent_(FirstMissingComponent(root_, subKey_, view_)) {}

ScopedRegistryValue::~ScopedRegistryValue() {
  if (previous_) {
    WriteExact(root_, subKey_, valueName_, view_, previous_->type, previous_->bytes.data(),
               previous_->bytes.size());
  } else {
    DeleteValue(root_, subKey_, valueName_, view_);
  }
  DeleteEmptyKeysUpTo(root_, subKey_, firstCreatedComponent_, view_);
}

void ScopedRegistryValue::SetDword(DWORD value) { SetRaw(REG_DWORD, &value, sizeof value); }

void ScopedRegistryValue::SetQword(std::uint64_t value) {
  SetRaw(REG_QWORD, &value, sizeof value);
}

void ScopedRegistryValue::SetString(const std::wstring& text, DWORD type) {
  SetRaw(type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void ScopedRegistryValue::SetRaw(DWORD type, const void* data, std::size_t byteCount) {
  WriteExact(root_, subKey_, valueName_, view_, type, data, byteCount);
}

void ScopedRegistryValue::SetRaw(DWORD type, const std::vector<std::uint8_t>& bytes) {
  SetRaw(type, bytes.data(), bytes.size());
}

void ScopedRegistryValue::SetUnterminated(const std::wstring& codeUnits, DWORD type) {
  SetRaw(type, codeUnits.data(), codeUnits.size() * sizeof(wchar_t));
}

void ScopedRegistryValue::Remove() { DeleteValue(root_, subKey_, valueName_, view_); }

ScopedRegistryKeyAbsent::ScopedRegistryKeyAbsent(HKEY root, std::wstring subKey, REGSAM view)
    : root_(root), subKey_(std::move(subKey)), view_(view) {
  existed_ = RegistryKeyExists(root_, subKey_, view_);
  if (existed_) {
    SaveTree(root_, subKey_, std::wstring(), view_, saved_);
    DeleteTree(root_, subKey_, view_);
  }
  firstRecreatedComponent_ = FirstMissingComponent(root_, subKey_, view_);
}

ScopedRegistryKeyAbsent::~ScopedRegistryKeyAbsent() {
  if (RegistryKeyExists(root_, subKey_, view_)) DeleteTree(root_, subKey_, view_);
  DeleteEmptyKeysUpTo(root_, subKey_, firstRecreatedComponent_, view_);
  for (const SavedKey& key : saved_) {
    std::wstring path = key.relativePath.empty() ? subKey_ : subKey_ + L"\\" + key.relativePath;
    KeyCloser created;
    LONG status = RegCreateKeyExW(root_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE | view_, nullptr, created.receive(), nullptr);
    if (status != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot restore " << Narrow(Describe(root_, path, L"")) << ": error "
                    << status;
      continue;
    }
    for (const auto& [name, data] : key.values) {
      WriteExact(root_, path, name, view_, data.type, data.bytes.data(), data.bytes.size());
    }
  }
}

}  // namespace kestrel_test
