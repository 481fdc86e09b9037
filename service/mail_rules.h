// The two rule lists that give a message more recipients: forward rules
// ("pattern|target", applied at RCPT) and copy rules ("mailbox|target",
// applied when a message is distributed).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace heron {

// Expands a forward target against the address that matched its rule.
std::string ExpandForwardTarget(std::string_view address, std::string_view target);
// The targets of every forward rule matching the address, each as
// "<target>", joined with ",". Empty when no rule matches.
std::string ForwardTargets(std::string_view address, const std::vector<std::string>& rules);

// The copy targets of a local mailbox: the targets of every rule whose
// source equals it (case ignored), in list order, each trimmed; a rule's
// target may itself list several, separated by ",".
std::vector<std::string> CopyTargets(std::string_view mailbox,
                                     const std::vector<std::string>& rules);

}  // namespace heron
