#include "service/list_rules.h"

#include "platform/text.h"
#include "service/encoded_list.h"
#include "service/ip_filter.h"
#include "service/settings_store.h"

namespace heron {

const std::vector<EditableList>& EditableLists() {
  static const std::vector<EditableList> lists = [] {
    std::vector<EditableList> out;
    for (const ListSetting& s : kListSettings) {
      out.push_back({std::string(s.key) == "Relay" ? s.value : s.key, &s});
    }
    return out;
  }();
  return lists;
}

const EditableList* FindEditableList(std::string_view name) {
  for (const EditableList& l : EditableLists()) {
    if (EqualsNoCase(l.name, name)) return &l;
  }
  return nullptr;
}

ListCheck CheckListAdd(const EditableList& list, const std::vector<std::string>& entries,
                       const std::string& entry) {
  if (Trim(entry).empty()) return ListCheck::kEmpty;
  bool rules = list.name == "ForwardRules" || list.name == "CopyRules" || list.name == "MxRecords";
  size_t bar = entry.find('|');
  if (rules && (bar == std::string::npos || bar == 0 || bar + 1 == entry.size())) {
    return ListCheck::kNotARule;
  }
  if ((list.name == "ForwardRules" || list.name == "CopyRules") &&
      EqualsNoCase(Trim(entry.substr(0, bar)), Trim(entry.substr(bar + 1)))) {
    return ListCheck::kToItself;
  }
  bool ip_list = list.name == "IpFilter" || list.name == "SafeIp";
  for (const std::string& e : entries) {
    if (ip_list ? SameIpEntry(e, entry) : EqualsNoCase(e, entry)) return ListCheck::kDuplicate;
    // Two rules that forward to each other would pass mail back and forth.
    if (list.name == "ForwardRules") {
      size_t other = e.find('|');
      if (other != std::string::npos && EqualsNoCase(e.substr(0, other), entry.substr(bar + 1)) &&
          EqualsNoCase(e.substr(other + 1), entry.substr(0, bar))) {
        return ListCheck::kMutualForward;
      }
    }
  }
  std::vector<std::string> after = entries;
  after.push_back(entry);
  if (EncodeList(after).size() > kMaxListBytes) return ListCheck::kTooLong;
  return ListCheck::kOk;
}

std::string StoredIpEntry(std::string_view text) {
  IpFilterEntry e = IpFilterEntry::Parse(text);
  std::string stored = e.low;
  stored.append(" ").append(e.high.empty() ? e.low : e.high);
  return stored;
}

bool SameIpEntry(std::string_view a, std::string_view b) {
  return EqualsNoCase(StoredIpEntry(a), StoredIpEntry(b));
}

const char* ListCheckText(ListCheck check) {
  switch (check) {
    case ListCheck::kOk:
      return "ok";
    case ListCheck::kEmpty:
      return "the entry is empty";
    case ListCheck::kNotARule:
      return "a rule is two parts joined by \"|\"";
    case ListCheck::kDuplicate:
      return "the entry is already in the list";
    case ListCheck::kMutualForward:
      return "the reverse rule is in the list: mail would go back and forth";
    case ListCheck::kToItself:
      return "a rule cannot lead to itself";
    case ListCheck::kTooLong:
      return "the list would be longer than the service loads (4095 bytes)";
  }
  return "refused";
}

}  // namespace heron
