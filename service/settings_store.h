// Store helpers shared by the service and the applet: numbers, texts and
// lists under subkeys of the service's root key, with the reading rules of
// the settings store (defaults applied by the reader, never written back).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace heron {

class Registry;

constexpr const char* kRootKey =
    "HKEY_LOCAL_MACHINE\\Software\\Tallyworks, Inc.\\Heron Mail Service";
// Largest list value the service loads.
constexpr size_t kMaxListBytes = 4095;

class SettingsStore {
 public:
  explicit SettingsStore(Registry& registry) : reg_(registry) {}
  Registry& registry() { return reg_; }

  // Each read creates the subkey (never a value) when it is missing.
  // Number: a value of at most 4 bytes is a little-endian integer, whatever
  // its type; absent or longer yields the default.
  int32_t ReadNumber(const std::string& subkey, const std::string& name, int32_t def);
  // Text: the stored bytes up to the first NUL; absent yields the default.
  std::string ReadText(const std::string& subkey, const std::string& name, const std::string& def);
  std::optional<std::string> ReadBytes(const std::string& subkey, const std::string& name);

  bool WriteNumber(const std::string& subkey, const std::string& name, int32_t value);
  bool WriteBytes(const std::string& subkey, const std::string& name, const std::string& bytes);
  // REG_SZ with its NUL. A null text deletes the value; a null name deletes
  // the subkey.
  bool WriteText(const std::string& subkey, const char* name, const char* text);
  bool DeleteValue(const std::string& subkey, const std::string& name);

  // Reads and decodes a list value. Nothing when absent, longer than
  // kMaxListBytes, or undecodable; `undecodable` tells the last case apart.
  std::optional<std::vector<std::string>> ReadList(const std::string& subkey,
                                                   const std::string& name,
                                                   bool* undecodable = nullptr);
  bool WriteList(const std::string& subkey, const std::string& name,
                 const std::vector<std::string>& entries);

 private:
  std::string Key(const std::string& subkey);
  Registry& reg_;
};

}  // namespace heron
