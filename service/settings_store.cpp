#include "service/settings_store.h"

#include "platform/registry.h"
#include "service/encoded_list.h"

namespace heron {

std::string SettingsStore::Key(const std::string& subkey) {
  std::string key = JoinKey(kRootKey, subkey);
  reg_.CreateKey(key);
  return key;
}

int32_t SettingsStore::ReadNumber(const std::string& subkey, const std::string& name, int32_t def) {
  auto v = reg_.QueryValue(Key(subkey), name);
  if (!v || v->data.size() > 4) return def;
  uint32_t n = 0;
  for (size_t i = 0; i < v->data.size(); ++i) {
    n |= static_cast<uint32_t>(static_cast<uint8_t>(v->data[i])) << (8 * i);
  }
  return static_cast<int32_t>(n);
}

std::string SettingsStore::ReadText(const std::string& subkey, const std::string& name,
                                    const std::string& def) {
  auto v = reg_.QueryValue(Key(subkey), name);
  if (!v) return def;
  return v->data.substr(0, v->data.find('\0'));
}

std::optional<std::string> SettingsStore::ReadBytes(const std::string& subkey,
                                                    const std::string& name) {
  auto v = reg_.QueryValue(Key(subkey), name);
  if (!v) return std::nullopt;
  return std::move(v->data);
}

bool SettingsStore::WriteNumber(const std::string& subkey, const std::string& name, int32_t value) {
  uint32_t u = static_cast<uint32_t>(value);
  std::string d(4, '\0');
  for (size_t i = 0; i < 4; ++i) d[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  return reg_.SetValue(Key(subkey), name, kRegDword, d);
}

bool SettingsStore::WriteBytes(const std::string& subkey, const std::string& name,
                               const std::string& bytes) {
  return reg_.SetValue(Key(subkey), name, kRegBinary, bytes);
}

bool SettingsStore::WriteText(const std::string& subkey, const char* name, const char* text) {
  if (!name) return reg_.DeleteKey(JoinKey(kRootKey, subkey));
  if (!text) return DeleteValue(subkey, name);
  return reg_.SetValue(Key(subkey), name, kRegSz, std::string(text) + std::string(1, '\0'));
}

bool SettingsStore::DeleteValue(const std::string& subkey, const std::string& name) {
  return reg_.DeleteValue(Key(subkey), name);
}

std::optional<std::vector<std::string>> SettingsStore::ReadList(const std::string& subkey,
                                                                const std::string& name,
                                                                bool* undecodable) {
  if (undecodable) *undecodable = false;
  auto bytes = ReadBytes(subkey, name);
  if (!bytes || bytes->size() > kMaxListBytes) return std::nullopt;
  auto list = DecodeList(*bytes);
  if (!list && undecodable) *undecodable = true;
  return list;
}

bool SettingsStore::WriteList(const std::string& subkey, const std::string& name,
                              const std::vector<std::string>& entries) {
  return WriteBytes(subkey, name, EncodeList(entries));
}

}  // namespace heron
