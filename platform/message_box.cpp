#include "platform/message_box.h"

#include <unistd.h>

#include "platform/text.h"

namespace heron {

void ShowMessageBox(const std::string& big5_text, const std::string& big5_caption) {
  std::string line = Big5ToUtf8(big5_caption) + ": " + Big5ToUtf8(big5_text) + "\n";
  [[maybe_unused]] ssize_t n = write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace heron
