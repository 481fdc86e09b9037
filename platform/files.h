// File and folder helpers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heron {

struct FileEntry {
  std::string name;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
  bool is_dir = false;
};

// Creates a folder and every missing parent. Success when it exists after.
bool CreateFolderPath(const std::string& path, mode_t mode = 0755);
// Entries of a folder ("." and ".." left out), in no particular order.
std::vector<FileEntry> ListFolder(const std::string& path);
std::optional<FileEntry> StatFile(const std::string& path);
bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Copies a file's bytes to `to` through a temporary file (in `tmp_dir`, or
// beside `to` when empty), fsync and rename, replacing `to`. Success only
// when the whole copy is durable.
// Without `sync_folder` the caller fsyncs the target folder itself before it
// relies on the copy (one fsync for many copies).
bool CopyFileDurable(const std::string& from, const std::string& to,
                     const std::string& tmp_dir = "", bool sync_folder = true);
// Finds a child of `dir` whose name equals `name` without regard to ASCII
// case; an exact match is preferred.
std::optional<std::string> FindChildNoCase(const std::string& dir, const std::string& name);
// Writes `data` to `path` whole or not at all: a temporary file in `tmp_dir`
// (same file system) is written, fsynced and renamed into place, and the
// target folder is fsynced.
bool WriteFileAtomic(const std::string& tmp_dir, const std::string& path, const std::string& data);
// The same for bytes that `produce` hands over piece by piece (buffered).
using PieceWriter = std::function<void(std::string_view)>;
bool WriteFileAtomic(const std::string& tmp_dir, const std::string& path,
                     const std::function<void(const PieceWriter&)>& produce);
bool ReadFile(const std::string& path, std::string& out);
// The last min(size, `limit`) - 1 bytes of a file (fewer when it shrinks
// meanwhile); false when it cannot be opened.
bool ReadFileTail(const std::string& path, size_t limit, std::string& out);
// The first `limit` bytes of a file (all of it when shorter).
bool ReadFileHead(const std::string& path, size_t limit, std::string& out);
// fsync of a folder, so that a rename or unlink in it is durable.
bool SyncFolder(const std::string& dir);
// fsync of a file's data.
bool SyncFile(const std::string& path);
// A name that may become one path part: no '/', NUL or control characters,
// not "." or "..", not starting with '.', not empty.
bool IsSafePathName(const std::string& name);
// Removes trailing '/' characters (but keeps a lone "/").
std::string TrimTrailingSlashes(std::string path);

}  // namespace heron
