#include "service/log_writer.h"

#include <sys/time.h>
#include <unistd.h>

#include <future>

#include "platform/systemd.h"
#include "platform/text.h"

namespace heron {
namespace {

void Stamp(LogItem& item) {
  // The local time of a second is worked out once per thread and second.
  thread_local time_t cached_secs = -1;
  thread_local std::tm cached{};
  timeval tv;
  gettimeofday(&tv, nullptr);
  if (tv.tv_sec != cached_secs) {
    cached_secs = tv.tv_sec;
    localtime_r(&cached_secs, &cached);
  }
  item.time = cached;
  item.millis = static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace

void LogQueue::Push(LogItem item, uint64_t producer) {
  std::unique_lock<std::mutex> lock(mu_);
  if (producer != 0) {
    room_.wait(lock, [&] {
      return closed_ || (pending_[producer] < producer_limit_ && total_ < total_limit_);
    });
  }
  if (closed_) return;
  size_t cost = Cost(item);
  if (producer != 0) pending_[producer] += cost;
  total_ += cost;
  queue_.emplace_back(producer, std::move(item));
  items_.notify_one();
}

bool LogQueue::TakeAll(std::deque<LogItem>& out) {
  std::unique_lock<std::mutex> lock(mu_);
  items_.wait(lock, [&] { return closed_ || !queue_.empty(); });
  if (queue_.empty()) return false;
  for (auto& [producer, item] : queue_) {
    size_t cost = Cost(item);
    if (producer != 0) {
      auto it = pending_.find(producer);
      if ((it->second -= cost) == 0) pending_.erase(it);
    }
    total_ -= cost;
    out.push_back(std::move(item));
  }
  queue_.clear();
  room_.notify_all();
  return true;
}

void LogQueue::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  items_.notify_all();
  room_.notify_all();
}

size_t LogQueue::pending_bytes(uint64_t producer) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = pending_.find(producer);
  return it == pending_.end() ? 0 : it->second;
}

LogWriter::LogWriter(std::string default_folder, size_t producer_bytes, size_t total_bytes)
    : trace_(std::move(default_folder)),
      queue_(producer_bytes, total_bytes),
      thread_([this] { Main(); }) {}

LogWriter::~LogWriter() { Stop(); }

void LogWriter::Post(int level, uint32_t thread_id, std::string text, uint64_t producer) {
  if (level > level_) return;
  LogItem item;
  item.level = level;
  item.thread_id = thread_id;
  item.text = std::move(text);
  Stamp(item);
  queue_.Push(std::move(item), producer);
}

void LogWriter::SetSettings(const LogSettings& settings) {
  // Raised at once, lowered once the lines queued before have been judged by
  // the old level.
  if (settings.level > level_) level_ = settings.level;
  Run([this, settings](TraceLog& t) {
    t.set_settings(settings);
    level_ = settings.level;
  });
}

void LogWriter::Run(std::function<void(TraceLog&)> operation) {
  LogItem item;
  item.operation = [this, op = std::move(operation)] { op(trace_); };
  queue_.Push(std::move(item), 0);
}

void LogWriter::Flush() {
  if (!thread_.joinable()) return;
  auto done = std::make_shared<std::promise<void>>();
  auto written = done->get_future();
  Run([done](TraceLog&) { done->set_value(); });
  // A closed queue drops the marker: then there is nothing left to wait for.
  written.wait_for(std::chrono::seconds(30));
}

void LogWriter::Stop() {
  queue_.Close();
  if (thread_.joinable()) thread_.join();
}

void LogWriter::Main() {
  std::deque<LogItem> batch;
  std::string buffer, errors;
  while (queue_.TakeAll(batch)) {
    for (LogItem& item : batch) {
      if (item.operation) {
        trace_.WriteRaw(buffer);
        buffer.clear();
        item.operation();
      } else {
        bool taken = trace_.Writes(item.level);
        if (taken) buffer += FormatLogLine(item.thread_id, item.time, item.millis, item.text);
        if (to_journal_) {
          if (taken) {
            // "<priority>[thread] text", the priority read by the journal.
            errors += StrPrintf("<%d>[%u] ", JournalPriority(item.level), item.thread_id);
            errors += Big5ToUtf8(EscapeLogText(item.text));
            errors += '\n';
          }
        } else if (item.level == 1 && echo_errors_) {
          errors += "osprey: " + Big5ToUtf8(EscapeLogText(item.text)) + "\n";
        }
      }
    }
    batch.clear();
    if (!errors.empty()) {
      [[maybe_unused]] ssize_t n = write(STDERR_FILENO, errors.data(), errors.size());
      errors.clear();
    }
    // One write a batch: lines stay whole for readers of the open file.
    trace_.WriteRaw(buffer);
    buffer.clear();
  }
}

}  // namespace heron
