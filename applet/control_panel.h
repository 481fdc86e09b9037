// The Control Panel protocol between the applet library and its host: the
// messages, the resource numbers and the two information records. Free of
// any window library, so the kestrel program includes it too.
#pragma once

#include <cstdint>

namespace heron::kestrel {

// The Control Panel messages.
enum : uint32_t {
  CPL_INIT = 1,
  CPL_GETCOUNT = 2,
  CPL_INQUIRE = 3,
  CPL_SELECT = 4,
  CPL_DBLCLK = 5,
  CPL_STOP = 6,
  CPL_EXIT = 7,
  CPL_NEWINQUIRE = 8,
  CPL_STARTWPARMS = 9,
};
// Resource identifiers of the applet.
enum : int32_t { kIconApplet = 100, kStringName = 1, kStringInfo = 2, kStringCaption = 2000 };

struct CPLINFO {
  int32_t idIcon, idName, idInfo, lData;
};
// The classic 32-bit layout of the extended record, 244 bytes.
struct NEWCPLINFOA {
  uint32_t dwSize, dwFlags, dwHelpContext, lData;
  uint32_t hIcon;  // the icon's resource identifier stands for the handle
  char szName[32];
  char szInfo[64];
  char szHelpFile[128];
};
static_assert(sizeof(NEWCPLINFOA) == 244);

}  // namespace heron::kestrel
