// The string lists of the store that administrators edit, and the rules an
// entry must pass before it is stored. The administration command uses
// them, and the applet will.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "service/settings.h"

namespace heron {

// A list by the name administrators use: the key, except "MxRecords" for
// Relay\MxRecords.
struct EditableList {
  std::string name;
  const ListSetting* setting;
};
const std::vector<EditableList>& EditableLists();
// The list of that name (case ignored), or null.
const EditableList* FindEditableList(std::string_view name);

enum class ListCheck {
  kOk,
  kEmpty,          // nothing to add
  kNotARule,       // a rule list entry without "|" or with an empty side
  kDuplicate,      // already in the list (case ignored)
  kMutualForward,  // a forward rule whose reverse is in the list
  kToItself,       // a rule whose two sides are the same
  kTooLong,        // the stored list would pass what the service loads
};
// Whether `entry` may be added to `entries` of the list.
ListCheck CheckListAdd(const EditableList& list, const std::vector<std::string>& entries,
                       const std::string& entry);
// An IpFilter or SafeIp entry as it is stored: first address, a blank, last
// address (a single address twice). Two entries are the same range when
// these agree, case ignored.
std::string StoredIpEntry(std::string_view text);
bool SameIpEntry(std::string_view a, std::string_view b);
// A one-line explanation of a refusal, in English.
const char* ListCheckText(ListCheck check);

}  // namespace heron
