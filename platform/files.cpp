#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/guid.h"

namespace heron {
namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes a new file at `tmp` from a producer, fsyncs it and renames it to
// `path`, then (unless the caller syncs it later) fsyncs the target folder.
template <typename Producer>
bool WriteThenRename(const std::string& tmp, const std::string& path, Producer produce,
                     bool sync_folder = true) {
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = produce(fd) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  // Not durable unless the rename is: then the file is taken back, so that
  // a failure reported to the caller leaves nothing behind.
  if (sync_folder && !SyncFolder(DirName(path))) {
    unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool CreateFolderPath(const std::string& path, mode_t mode) {
  if (path.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    cur = path.substr(0, slash);
    if (!cur.empty()) {
      if (mkdir(cur.c_str(), mode) == 0) {
        SyncFolder(DirName(cur));  // the new folder survives a power loss
      } else if (errno != EEXIST) {
        return false;
      }
    }
    pos = slash + 1;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<FileEntry> ListFolder(const std::string& path) {
  std::vector<FileEntry> out;
  DIR* d = opendir(path.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, 0) != 0) continue;  // vanished meanwhile
    FileEntry fe;
    fe.name = std::move(name);
    fe.size = static_cast<uint64_t>(st.st_size);
    fe.mtime = static_cast<int64_t>(st.st_mtime);
    fe.is_dir = S_ISDIR(st.st_mode);
    out.push_back(std::move(fe));
  }
  closedir(d);
  return out;
}

std::optional<FileEntry> StatFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  FileEntry fe;
  size_t slash = path.rfind('/');
  fe.name = slash == std::string::npos ? path : path.substr(slash + 1);
  fe.size = static_cast<uint64_t>(st.st_size);
  fe.mtime = static_cast<int64_t>(st.st_mtime);
  fe.is_dir = S_ISDIR(st.st_mode);
  return fe;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool CopyFileDurable(const std::string& from, const std::string& to, const std::string& tmp_dir,
                     bool sync_folder) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string tmp = (tmp_dir.empty() ? to + "." : tmp_dir + "/") + NewGuidHex() + ".tmp";
  bool ok = WriteThenRename(
      tmp, to,
      [in](int out) {
        char buf[65536];
        for (;;) {
          ssize_t n = read(in, buf, sizeof buf);
          if (n == 0) return true;
          if (n < 0) {
            if (errno == EINTR) continue;
            return false;
          }
          if (!WriteAll(out, buf, static_cast<size_t>(n))) return false;
        }
      },
      sync_folder);
  close(in);
  return ok;
}

std::optional<std::string> FindChildNoCase(const std::string& dir, const std::string& name) {
  if (FileExists(dir + "/" + name)) return name;
  std::optional<std::string> found;
  DIR* d = opendir(dir.c_str());
  if (!d) return std::nullopt;
  while (dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

bool WriteFileAtomic(const std::string& tmp_dir, const std::string& path, const std::string& data) {
  if (!CreateFolderPath(tmp_dir, 0700)) return false;
  std::string tmp = tmp_dir + "/" + NewGuidHex() + ".tmp";
  return WriteThenRename(tmp, path,
                         [&data](int fd) { return WriteAll(fd, data.data(), data.size()); });
}

bool WriteFileAtomic(const std::string& tmp_dir, const std::string& path,
                     const std::function<void(const PieceWriter&)>& produce) {
  if (!CreateFolderPath(tmp_dir, 0700)) return false;
  std::string tmp = tmp_dir + "/" + NewGuidHex() + ".tmp";
  return WriteThenRename(tmp, path, [&produce](int fd) {
    constexpr size_t kBuffer = 64 * 1024;
    std::string buffer;
    buffer.reserve(kBuffer);
    bool ok = true;
    produce([&](std::string_view piece) {
      if (!ok) return;
      if (buffer.size() + piece.size() > kBuffer) {
        ok = WriteAll(fd, buffer.data(), buffer.size());
        buffer.clear();
        if (ok && piece.size() > kBuffer) {
          ok = WriteAll(fd, piece.data(), piece.size());
          return;
        }
      }
      buffer.append(piece);
    });
    return ok && WriteAll(fd, buffer.data(), buffer.size());
  });
}

bool ReadFile(const std::string& path, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  // Room for the whole file at once (and a little for a reply around it).
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size) + 256);
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool SyncFolder(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool SyncFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool IsSafePathName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name[0] == '.') return false;
  for (unsigned char c : name) {
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string TrimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool ReadFileHead(const std::string& path, size_t limit, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.assign(limit, '\0');
  size_t got = 0;
  while (got < limit) {
    ssize_t n = read(fd, out.data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  close(fd);
  return true;
}

bool ReadFileTail(const std::string& path, size_t limit, std::string& out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok) {
    size_t size = static_cast<size_t>(st.st_size);
    size_t want = size < limit ? size : limit;
    want = want > 0 ? want - 1 : 0;
    out.assign(want, '\0');
    size_t got = 0;
    off_t from = static_cast<off_t>(size - want);
    while (got < want) {
      ssize_t n = pread(fd, out.data() + got, want - got, from + static_cast<off_t>(got));
      if (n <= 0) break;  // the file shrank meanwhile: keep what was read
      got += static_cast<size_t>(n);
    }
    out.resize(got);
  }
  close(fd);
  return ok;
}

}  // namespace heron
