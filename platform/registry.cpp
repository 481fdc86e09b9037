#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace heron {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  path TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key  TEXT NOT NULL COLLATE NOCASE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, name));";

// A prepared statement that finalizes itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
  }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return st_ != nullptr; }
  Stmt& Text(int i, const std::string& s) {
    if (st_) sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Blob(int i, const std::string& s) {
    if (st_) sqlite3_bind_blob(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Int(int i, int v) {
    if (st_) sqlite3_bind_int(st_, i, v);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return st_ ? sqlite3_step(st_) : SQLITE_ERROR; }
  bool Run() { return Step() == SQLITE_DONE; }
  std::string ColumnBytes(int i) {
    const void* p = sqlite3_column_blob(st_, i);
    int n = sqlite3_column_bytes(st_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }
  int ColumnInt(int i) { return sqlite3_column_int(st_, i); }

 private:
  sqlite3_stmt* st_ = nullptr;
};

// Every ancestor path of a key, the key itself last.
std::vector<std::string> KeyAndAncestors(const std::string& key) {
  std::vector<std::string> out;
  for (size_t pos = key.find('\\'); pos != std::string::npos; pos = key.find('\\', pos + 1)) {
    if (pos > 0) out.push_back(key.substr(0, pos));
  }
  out.push_back(key);
  return out;
}

// SQL condition selecting a key and its subtree, with the key bound twice.
// substr() drops the column's collation, so the prefix test names NOCASE.
constexpr const char* kSubtree =
    "(path = ?1 OR substr(path, 1, length(?1) + 1) COLLATE NOCASE = ?1 || '\\')";
constexpr const char* kValueSubtree =
    "(key = ?1 OR substr(key, 1, length(?1) + 1) COLLATE NOCASE = ?1 || '\\')";

}  // namespace

std::string JoinKey(const std::string& parent, const std::string& child) {
  if (parent.empty()) return child;
  if (child.empty()) return parent;
  return parent + "\\" + child;
}

Registry::Registry(const std::string& db_path) : path_(db_path) {
  // Create the file with owner-only access before SQLite opens it: it holds
  // passwords. SQLite gives its journal files the same mode.
  int fd = open(db_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw RegistryError("cannot open settings store " + db_path + ": " + std::strerror(errno));
  }
  // A store made by other tools is narrowed to its owner too.
  struct stat st;
  if (fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) fchmod(fd, st.st_mode & 0700);
  close(fd);
  int rc =
      sqlite3_open_v2(db_path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw RegistryError("cannot open settings store " + db_path + ": " + msg);
  }
  sqlite3_busy_timeout(db_, 5000);
  if (!Exec("PRAGMA journal_mode=WAL;") || !Exec(kSchema)) {
    std::string msg = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    throw RegistryError("cannot use settings store " + db_path + ": " + msg);
  }
}

Registry::~Registry() {
  if (db_) sqlite3_close(db_);
}

Registry& Registry::Shared() {
  static Registry store(HeronHome() + "/registry.db");
  return store;
}

bool Registry::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Registry::EnsureKey(const std::string& key) {
  if (KeyExists(key)) return true;
  for (const std::string& k : KeyAndAncestors(key)) {
    if (!Stmt(db_, "INSERT OR IGNORE INTO reg_keys(path) VALUES(?1)").Text(1, k).Run()) {
      return false;
    }
  }
  return true;
}

bool Registry::CreateKey(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (key.empty()) return false;
  if (KeyExists(key)) return true;
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok = EnsureKey(key);
  ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  return ok;
}

bool Registry::KeyExists(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return Stmt(db_, "SELECT 1 FROM reg_keys WHERE path = ?1").Text(1, key).Step() == SQLITE_ROW;
}

bool Registry::DeleteKey(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok =
      Stmt(db_, (std::string("DELETE FROM reg_values WHERE ") + kValueSubtree).c_str())
          .Text(1, key)
          .Run() &&
      Stmt(db_, (std::string("DELETE FROM reg_keys WHERE ") + kSubtree).c_str()).Text(1, key).Run();
  ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  return ok;
}

std::vector<std::string> Registry::SubKeys(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::vector<std::string> out;
  Stmt st(db_,
          "SELECT substr(path, length(?1) + 2) FROM reg_keys WHERE "
          "substr(path, 1, length(?1) + 1) COLLATE NOCASE = ?1 || '\\' AND "
          "instr(substr(path, length(?1) + 2), '\\') = 0 ORDER BY path");
  st.Text(1, key);
  while (st.Step() == SQLITE_ROW) out.push_back(st.ColumnBytes(0));
  return out;
}

std::optional<RegValue> Registry::QueryValue(const std::string& key, const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  Stmt st(db_, "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2");
  st.Text(1, key).Text(2, name);
  if (st.Step() != SQLITE_ROW) return std::nullopt;
  RegValue v;
  v.type = st.ColumnInt(0);
  v.data = st.ColumnBytes(1);
  return v;
}

bool Registry::SetValue(const std::string& key, const std::string& name, int type,
                        const std::string& data) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok = EnsureKey(key) && Stmt(db_,
                                   "INSERT OR REPLACE INTO reg_values(key, name, type, data) "
                                   "VALUES(?1, ?2, ?3, ?4)")
                                  .Text(1, key)
                                  .Text(2, name)
                                  .Int(3, type)
                                  .Blob(4, data)
                                  .Run();
  ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  return ok;
}

bool Registry::DeleteValue(const std::string& key, const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return Stmt(db_, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2")
      .Text(1, key)
      .Text(2, name)
      .Run();
}

std::vector<std::string> Registry::ValueNames(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::vector<std::string> out;
  Stmt st(db_, "SELECT name FROM reg_values WHERE key = ?1 ORDER BY name");
  st.Text(1, key);
  while (st.Step() == SQLITE_ROW) out.push_back(st.ColumnBytes(0));
  return out;
}

bool Registry::SaveKey(const std::string& key, const std::string& file) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!KeyExists(key)) return false;
  // Build the copy beside the target and move it into place, so that an
  // existing backup is replaced whole or not at all.
  std::string tmp = file + ".tmp";
  unlink(tmp.c_str());
  // Made owner-only before anything is written: a backup holds passwords.
  int fd = open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  if (!Stmt(db_, "ATTACH DATABASE ?1 AS backup").Text(1, tmp).Run()) return false;
  bool ok = Exec("BEGIN") &&
            Exec(
                "CREATE TABLE backup.reg_keys(path TEXT PRIMARY KEY COLLATE NOCASE);"
                "CREATE TABLE backup.reg_values(key TEXT NOT NULL COLLATE NOCASE,"
                " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL,"
                " data BLOB NOT NULL, PRIMARY KEY(key, name));") &&
            Stmt(db_, (std::string("INSERT INTO backup.reg_keys SELECT path FROM "
                                   "main.reg_keys WHERE ") +
                       kSubtree)
                          .c_str())
                .Text(1, key)
                .Run() &&
            Stmt(db_, (std::string("INSERT INTO backup.reg_values SELECT * FROM "
                                   "main.reg_values WHERE ") +
                       kValueSubtree)
                          .c_str())
                .Text(1, key)
                .Run();
  ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  Exec("DETACH DATABASE backup");
  if (ok) ok = rename(tmp.c_str(), file.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool Registry::RestoreKey(const std::string& key, const std::string& file) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (access(file.c_str(), R_OK) != 0) return false;
  if (!Stmt(db_, "ATTACH DATABASE ?1 AS backup").Text(1, file).Run()) return false;
  // The saved subtree's top key is its shortest path; every saved path is
  // moved from under that key to under `key`.
  std::string top;
  int top_chars = 0;  // SQLite's substr counts characters, not bytes
  {
    Stmt st(db_, "SELECT path, length(path) FROM backup.reg_keys ORDER BY length(path) LIMIT 1");
    if (st.Step() == SQLITE_ROW) {
      top = st.ColumnBytes(0);
      top_chars = st.ColumnInt(1);
    }
  }
  bool ok = !top.empty() && Exec("BEGIN IMMEDIATE");
  if (ok) {
    ok = Stmt(db_, (std::string("DELETE FROM main.reg_values WHERE ") + kValueSubtree).c_str())
             .Text(1, key)
             .Run() &&
         Stmt(db_, (std::string("DELETE FROM main.reg_keys WHERE ") + kSubtree).c_str())
             .Text(1, key)
             .Run() &&
         EnsureKey(key) &&
         Stmt(db_,
              "INSERT OR REPLACE INTO main.reg_keys(path) SELECT ?1 || substr(path, ?2) "
              "FROM backup.reg_keys")
             .Text(1, key)
             .Int(2, top_chars + 1)
             .Run() &&
         Stmt(db_,
              "INSERT OR REPLACE INTO main.reg_values(key, name, type, data) "
              "SELECT ?1 || substr(key, ?2), name, type, data FROM backup.reg_values")
             .Text(1, key)
             .Int(2, top_chars + 1)
             .Run();
    ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  }
  Exec("DETACH DATABASE backup");
  return ok;
}

}  // namespace heron
