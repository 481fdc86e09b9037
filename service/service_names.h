// The names the service is known by: to the service manager, and for the
// named objects the service creates and the other programs set.
#pragma once

namespace heron {

constexpr const char* kServiceName = "Heron Mail Service";
constexpr const char* kMutexName = "Mail Service Mutex";
constexpr const char* kReloadEventName = "Heron Mail Service Event";
constexpr const char* kClearLogEventName = "Heron Mail Server Clear Log";

}  // namespace heron
