// The applet: the application object, the sheet of seven pages, and the
// Control Panel entry point CPlApplet.
#pragma once

#include <cstdint>

#include "applet/property_sheet.h"

namespace heron {
class Registry;
class SettingsStore;
}  // namespace heron

namespace heron::kestrel {

class AppletHost;
class CGeneralPage;
class CAdvancedPage;
class CRelayPage;
class CDomainsPage;
class CUserAccountPage;
class CForwardRulesPage;
class CIpFilterPage;

class CMailPropertySheet : public CMyPropertySheet {
  Q_OBJECT
 public:
  CMailPropertySheet(SettingsStore& store, AppletHost& host, QWidget* parent = nullptr);

  CGeneralPage* general() const { return general_; }
  CAdvancedPage* advanced() const { return advanced_; }
  CRelayPage* relay() const { return relay_; }
  CIpFilterPage* ip_filter() const { return ip_filter_; }
  CDomainsPage* domains() const { return domains_; }
  CUserAccountPage* accounts() const { return accounts_; }
  CForwardRulesPage* forward_rules() const { return forward_rules_; }

 private:
  CGeneralPage* general_;
  CAdvancedPage* advanced_;
  CRelayPage* relay_;
  CIpFilterPage* ip_filter_;
  CDomainsPage* domains_;
  CUserAccountPage* accounts_;
  CForwardRulesPage* forward_rules_;
};

// Runs the sheet modally (an OK sets the reload event); the dialog's result.
int RunMailSheet(SettingsStore& store, AppletHost& host);

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

// The text of a string resource (UTF-8).
const char* LoadAppletString(int32_t id);

// CPlApplet's work: the window and the item number do not matter here.
int32_t AppletEntry(uint32_t msg, intptr_t lparam2);

}  // namespace heron::kestrel
