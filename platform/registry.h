// The settings store: a registry of keys and typed values kept in one SQLite
// database, shared by the service and the applet.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace heron {

// Value types, numbered as the registry numbers them.
enum RegType : int {
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegValue {
  int type = kRegBinary;
  std::string data;  // raw bytes as the registry holds them
};

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One open store. All operations are thread-safe. Key paths are full paths
// joined with '\' (e.g. "HKEY_LOCAL_MACHINE\Software\..."); key and value
// names compare without regard to ASCII case.
class Registry {
 public:
  // Opens or creates the database file (mode 0600). Throws RegistryError when
  // the file cannot be opened or is not a settings store.
  explicit Registry(const std::string& db_path);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  const std::string& path() const { return path_; }

  // Creates the key and every missing ancestor. Returns success.
  bool CreateKey(const std::string& key);
  bool KeyExists(const std::string& key);
  // Deletes the key with everything below it.
  bool DeleteKey(const std::string& key);
  std::vector<std::string> SubKeys(const std::string& key);

  std::optional<RegValue> QueryValue(const std::string& key, const std::string& name);
  // Writes a value, creating the key (and its ancestors) when missing.
  bool SetValue(const std::string& key, const std::string& name, int type, const std::string& data);
  bool DeleteValue(const std::string& key, const std::string& name);
  std::vector<std::string> ValueNames(const std::string& key);

  // Writes the key and its subtree to a new store file at `file` (replacing
  // one that exists). Returns success.
  bool SaveKey(const std::string& key, const std::string& file);
  // Replaces the key's whole subtree with the subtree held in a file made by
  // SaveKey, in one transaction. Returns success.
  bool RestoreKey(const std::string& key, const std::string& file);

  // Opens the store of the data root ($HERON_HOME/registry.db). Throws
  // RegistryError on failure; the store stays open for the process's life.
  static Registry& Shared();

 private:
  bool Exec(const char* sql);
  bool EnsureKey(const std::string& key);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::recursive_mutex mu_;
};

// Joins key path parts with '\'.
std::string JoinKey(const std::string& parent, const std::string& child);

}  // namespace heron
