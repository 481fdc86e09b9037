// Message boxes of programs without a desktop: the text goes to standard
// error, converted from Big5 for the terminal; it never blocks.
#pragma once

#include <string>

namespace heron {

void ShowMessageBox(const std::string& big5_text, const std::string& big5_caption);

}  // namespace heron
