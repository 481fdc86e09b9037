// The one boundary between the store's Big5 texts and the screen's Unicode.
#pragma once

#include <QString>
#include <string>

#include "platform/text.h"

namespace heron::kestrel {

inline QString FromStore(const std::string& big5) {
  return QString::fromStdString(Big5ToUtf8(big5));
}
inline std::string ToStore(const QString& text) { return Utf8ToBig5(text.toStdString()); }
// A UTF-8 text of this program.
inline QString Ui(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace heron::kestrel
