// The edits an accepted message undergoes before it is stored: the spam tag
// on its subject and the footer.
#pragma once

#include <string>

namespace heron {

constexpr const char* kFooterMark = "Powered By Heron Mail Server";
constexpr const char* kFooterLine1 = "Made In Taiwan";
constexpr const char* kFooterLine2 = "https://heron-mail.example/";

// Replaces every "Subject:", then every "subject:", with the tagged form.
std::string ApplySpamTag(std::string data, const std::string& tag);
// Adds the footer unless the data already carries it: before each end
// marker for plain text, before each closing body tag for HTML.
std::string ApplyFooter(std::string data);

}  // namespace heron
