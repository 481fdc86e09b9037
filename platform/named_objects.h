// Named kernel objects shared between programs: a mutex (an flock'ed file)
// and auto-reset events (FIFOs in the run folder); and the in-process
// manual-reset stop event.
#pragma once

#include <string>
#include <vector>

namespace heron {

// Manual-reset event inside the process. Once set it stays set; its file
// descriptor stays readable, so event loops can wait on it.
class StopEvent {
 public:
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;
  void Set();
  bool IsSet() const;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// "Mutex" held through flock on $HERON_HOME/run/<name>.lock.
class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex() { Release(); }
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  enum class Result { kAcquired, kHeldElsewhere, kError };
  // kHeldElsewhere when another process holds it; kError (errno set) when
  // the lock file cannot be opened.
  Result TryAcquire(const std::string& name);
  void Release();

 private:
  int fd_ = -1;
};

// Auto-reset event: a FIFO named after the event in the run folder. The
// owner opens it for reading; anyone sets it by writing one byte.
class NamedEvent {
 public:
  NamedEvent() = default;
  ~NamedEvent() { Close(); }
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  // Creates the FIFO (mode 0666) if needed and opens it for reading.
  bool Create(const std::string& name);
  void Close();
  // Reads every pending byte: several sets before one wait count once.
  void Drain();
  int fd() const { return fd_; }

  // Sets the event named `name`, creating the FIFO when missing. When no
  // process has it open for reading, the set has no effect; that is not an
  // error. False only when the FIFO cannot be made or written.
  static bool Set(const std::string& name);

 private:
  int fd_ = -1;
};

// Waits until one of `events` is set or `stop` is set. Returns the index of
// the event that was set (its bytes drained), or events.size() for stop and
// when the wait itself fails.
size_t WaitForEvents(const std::vector<NamedEvent*>& events, const StopEvent& stop);

// Path of a named object's file in the run folder.
std::string NamedObjectPath(const std::string& name, const char* suffix = "");

}  // namespace heron
