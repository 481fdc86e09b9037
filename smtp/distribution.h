// Distribution of drop files: each accepted message is copied from the drop
// folder into the mailbox of every local recipient (with the copy rules, the
// catch-all account and the copy account) and, once, into the queue folder
// when it has a remote recipient; the drop file goes when every copy is
// made.
#pragma once

#include <functional>
#include <string>

#include "service/settings.h"

namespace heron {

class AccountStore;

class CDistribution {
 public:
  // A trace-log line: level 1 error, 2 information.
  using LogFn = std::function<void(int level, const std::string& text)>;

  // `settings` are those in force; they are read at each distribution.
  CDistribution(const OspreySettings& settings, AccountStore& accounts, LogFn log);

  // Distributes one drop file. A copy that fails keeps the drop file for a
  // later distribution; copies already made are then replaced. True when
  // every copy was made and the drop file deleted.
  bool Distribute(const std::string& drop_file);
  // What a stopped service left: partial writes are deleted, drop files are
  // distributed, oldest first.
  void DistributeLeftovers();

 private:
  bool CopyInto(const std::string& from, const std::string& folder, const std::string& file_name);
  bool ApplyCopyRules(const std::string& from, const std::string& mailbox,
                      const std::string& file_name);
  std::string Root() const;

  const OspreySettings& settings_;
  AccountStore& accounts_;
  LogFn log_;
};

}  // namespace heron
