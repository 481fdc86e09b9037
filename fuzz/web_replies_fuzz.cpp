// The desktop programs' readers of outside text: an echo service's reply,
// the version file, a resolv.conf, a typed address for the DNS test and the
// diagnosis tool's command line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "applet/applet_rules.h"
#include "diagnose/diagnosis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  heron::skylark::PublicAddressFrom(text);
  heron::kestrel::ReadVersionReply(text);
  heron::kestrel::VersionText(text);
  heron::kestrel::DetectNameServer(heron::kestrel::ResolvConfServers(text));
  heron::kestrel::DnsTestDomain(text);
  heron::skylark::ParseCommandLine({text, "/H:" + text});
  return 0;
}
