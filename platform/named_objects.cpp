#include "platform/named_objects.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio.hpp>
#include <cerrno>
#include <memory>

#include "platform/paths.h"

namespace heron {

std::string NamedObjectPath(const std::string& name, const char* suffix) {
  return RunDir() + "/" + name + suffix;
}

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopEvent::~StopEvent() {
  if (fd_ >= 0) close(fd_);
}

void StopEvent::Set() {
  uint64_t one = 1;
  // The counter is never read, so the descriptor stays readable.
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

bool StopEvent::IsSet() const {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

NamedMutex::Result NamedMutex::TryAcquire(const std::string& name) {
  Release();
  int fd = open(NamedObjectPath(name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Result::kError;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return err == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kError;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void NamedMutex::Release() {
  if (fd_ >= 0) {
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
  }
}

namespace {

// Makes sure a FIFO exists at `path`, replacing anything else found there.
bool EnsureFifo(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode)) return true;
    unlink(path.c_str());
  }
  if (mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST) return false;
  chmod(path.c_str(), 0666);  // the umask must not narrow who may set it
  return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

bool NamedEvent::Create(const std::string& name) {
  Close();
  std::string path = NamedObjectPath(name);
  if (!EnsureFifo(path)) return false;
  // Read-write so that the FIFO always has a writer: a reader alone would see
  // end-of-file after every set and wake without cause.
  fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

void NamedEvent::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

void NamedEvent::Drain() {
  char buf[256];
  while (fd_ >= 0 && read(fd_, buf, sizeof buf) > 0) {
  }
}

bool NamedEvent::Set(const std::string& name) {
  std::string path = NamedObjectPath(name);
  if (!EnsureFifo(path)) return false;
  int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENXIO;  // nobody waits: no effect
  char one = 1;
  ssize_t n = write(fd, &one, 1);
  close(fd);
  // A full FIFO already holds a pending set.
  return n == 1 || errno == EAGAIN;
}

size_t WaitForEvents(const std::vector<NamedEvent*>& events, const StopEvent& stop) {
  if (stop.IsSet()) return events.size();
  asio::io_context io;
  size_t which = events.size();
  bool woke = false;
  std::vector<std::unique_ptr<asio::posix::stream_descriptor>> descs;
  auto watch = [&](int fd, size_t index) {
    auto d = std::make_unique<asio::posix::stream_descriptor>(io);
    asio::error_code ec;
    int copy = fd >= 0 ? dup(fd) : -1;
    if (copy >= 0) d->assign(copy, ec);
    if (copy < 0 || ec) {
      if (copy >= 0) close(copy);
      return false;
    }
    d->async_wait(asio::posix::stream_descriptor::wait_read,
                  [&, index](const asio::error_code& wait_ec) {
                    if (!wait_ec && !woke) {
                      woke = true;
                      which = index;
                      io.stop();
                    }
                  });
    descs.push_back(std::move(d));
    return true;
  };
  if (!watch(stop.fd(), events.size())) return events.size();
  for (size_t i = 0; i < events.size(); ++i) {
    if (!watch(events[i]->fd(), i)) return events.size();
  }
  io.run();
  if (stop.IsSet()) return events.size();
  if (which < events.size()) events[which]->Drain();
  return which;
}

}  // namespace heron
