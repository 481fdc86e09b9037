// Distribution of drop files: each accepted message is copied from the drop
// folder into the mailbox of every local recipient (with the copy rules, the
// catch-all account and the copy account) and, once, into the queue folder
// when it has a remote recipient; the drop file goes when every copy is
// made.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/settings.h"

namespace heron {

class AccountStore;

class CDistribution {
 public:
  // A trace-log line: level 1 error, 2 information.
  using LogFn = std::function<void(int level, const std::string& text)>;
  // The settings in force, taken anew for each drop file.
  using SettingsFn = std::function<std::shared_ptr<const OspreySettings>()>;

  CDistribution(SettingsFn settings, AccountStore& accounts, LogFn log);

  // Distributes one drop file. Each copy made is noted in the file's copy
  // journal, so that no folder gets the message twice; a copy that fails
  // keeps the drop file (and its journal, made durable) for RetryKept. True
  // when every copy was made and the drop file deleted.
  bool Distribute(const std::string& drop_file);
  // Distributes drop files in their order, as Distribute does, sharing the
  // folder syncs that make their copies durable. Returns how many went.
  size_t DistributeBatch(const std::vector<std::string>& drop_files);
  // Distributes again every drop file kept by a failed copy, oldest first.
  void RetryKept();
  // What a stopped service left: partial writes are deleted, and the drop
  // files (oldest first) are returned for distribution.
  std::vector<std::string> TakeLeftovers();

  const std::vector<std::string>& kept() const { return kept_; }

 private:
  struct Pending;
  Pending CopyAll(const OspreySettings& settings, const std::string& drop_file);
  bool CopyInto(const std::string& root, const std::string& from, const std::string& folder,
                const std::string& file_name);

  SettingsFn settings_;
  AccountStore& accounts_;
  LogFn log_;
  std::vector<std::string> kept_;
};

}  // namespace heron
