// The edits an accepted message undergoes before it is stored: the spam tag
// on its subject and the footer.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "smtp/message_data.h"

namespace heron {

constexpr const char* kFooterMark = "Powered By Heron Mail Server";
constexpr const char* kFooterLine1 = "Made In Taiwan";
constexpr const char* kFooterLine2 = "https://heron-mail.example/";

// Replaces every "Subject:", then every "subject:", with the tagged form.
std::string ApplySpamTag(std::string data, const std::string& tag);
// Adds the footer unless the data already carries it: before each end
// marker for plain text, before each closing body tag for HTML.
std::string ApplyFooter(std::string data);

// The data as it is stored: the spam tag (when given), then the footer, then
// the end trimmed as TrimMessageEnd trims it; the same bytes as those three
// applied in turn, written piece by piece without a second copy of the data.
using DataSink = std::function<void(std::string_view)>;
void WriteStoredData(const MessageData& data, const std::string* spam_tag, const DataSink& out);

}  // namespace heron
