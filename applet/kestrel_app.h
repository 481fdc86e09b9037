// The applet: the application object, the sheet of seven pages, and the
// Control Panel entry point CPlApplet.
#pragma once

#include <cstdint>

#include "applet/control_panel.h"
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

// The text of a string resource (UTF-8).
const char* LoadAppletString(int32_t id);

// CPlApplet's work: the window and the item number do not matter here.
int32_t AppletEntry(uint32_t msg, intptr_t lparam2);

}  // namespace heron::kestrel
