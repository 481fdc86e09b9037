// What the service needs of a client session thread to stop it.
#pragma once

#include <chrono>
#include <cstdint>

namespace heron {

class CSessionThread {
 public:
  virtual ~CSessionThread() = default;
  virtual uint32_t ThreadId() const = 0;
  // Asks the session to end; returns at once.
  virtual void PostQuit() = 0;
  // Waits up to `limit` for the thread to end; true when it ended.
  virtual bool WaitEnded(std::chrono::milliseconds limit) = 0;
};

}  // namespace heron
