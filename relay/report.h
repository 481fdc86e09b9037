// Non-delivery reports: a message written straight into the sender's own
// mailbox folder, telling which recipients were not reached and why, in
// Chinese and in English.
#pragma once

#include <ctime>
#include <string>

#include "service/message_file.h"

namespace heron {

struct ReportReasons {
  std::string chinese, english;  // Big5
};

// The report's bytes for a message whose header facts are `facts`, dated
// `now`: `recipients` as the list under the first line, the reasons with
// the explanation of a temporary SMTP code (from the English reason).
std::string BuildReport(const MessageHeaderFields& facts, const std::string& recipients,
                        const ReportReasons& reasons, const std::string& server_id,
                        std::time_t now);

// Writes a report about the message file into the folder of its sender's
// mailbox under a new name. Nothing is written when the file cannot be
// read or the sender has no mailbox folder here; false then, or when the
// write fails.
bool WriteReport(const std::string& mail_root, const std::string& message_path,
                 const std::string& recipients, const ReportReasons& reasons,
                 const std::string& server_id, std::time_t now);

}  // namespace heron
