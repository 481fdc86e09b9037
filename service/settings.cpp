#include "service/settings.h"

#include <climits>

#include "platform/paths.h"
#include "platform/text.h"
#include "service/settings_store.h"

namespace heron {
namespace {

using S = OspreySettings;
using Kind = ScalarSetting::Kind;

std::string MachineHostNameDefault() { return MachineHostName().substr(0, 255); }

constexpr int32_t kAny = INT32_MIN, kAll = INT32_MAX;

ScalarSetting Number(const char* name, int32_t def, int32_t S::*member, int32_t min = kAny,
                     int32_t max = kAll) {
  return {name, Kind::kNumber, def, nullptr, nullptr, min, max, 0, member, nullptr};
}
ScalarSetting Switch(const char* name, int32_t def, int32_t S::*member) {
  return Number(name, def, member, 0, 1);
}
ScalarSetting Text(const char* name, const char* def, std::string S::*member,
                   std::string (*machine)() = nullptr) {
  return {name, Kind::kText, 0, def, machine, kAny, kAll, 255, nullptr, member};
}

const std::vector<ScalarSetting>& Table() {
  static const std::vector<ScalarSetting> table = {
      // Read first, into the trace log's settings.
      Number("LogLevel", 2, nullptr, 0, 3),
      Number("MaxLog", 2, nullptr, 1, 1000),
      Text("LogPath", "", nullptr),
      // The service's reading order.
      Text("MailFolder", nullptr, &S::mail_folder, DefaultMailFolder),
      Number("Port", 110, &S::port, 0, 65535),
      Number("SmtpPort", 25, &S::smtp_port, 0, 65535),
      Switch("BlockDynIP", 1, &S::block_dyn_ip),
      Switch("BlockDynIP2", 1, &S::block_dyn_ip2),
      Switch("CheckDNSBL", 1, &S::check_dnsbl),
      Switch("FilterMode", 0, &S::filter_mode),
      Text("SpamTag", "[--SPAM--]", &S::spam_tag).Limit(24),
      Number("IpCacheSize", 50, &S::ip_cache_size, 0, 100),
      Number("ConnectionsLimit", 500, &S::connections_limit, 0, 9999),
      Number("MaxMessageSize", 0, &S::max_message_size, 0),
      Number("Timeout", 90, &S::timeout, 0, 9999),
      Number("RelayTimeout", 60, &S::relay_timeout, 0),
      Number("RetryTimeout", 24, &S::retry_timeout, 1, 999),
      Number("RetryTimes", 10, &S::retry_times, 0, 99),
      Switch("AuthLocal", 1, &S::auth_local),
      Switch("AuthRemote", 1, &S::auth_remote),
      Switch("AuthForward", 0, &S::auth_forward),
      Switch("CpwdRemote", 1, &S::cpwd_remote),
      Switch("ManageRemote", 0, &S::manage_remote),
      Switch("RelayMessages", 0, &S::relay_messages),
      Switch("DomainAsHost", 1, &S::domain_as_host),
      Text("HostName", nullptr, &S::host_name, MachineHostNameDefault),
      Text("DNSServer", "", &S::dns_server),
      Number("MaxRecipients", 0, &S::max_recipients, 0),
      Text("ServerID", "Heron Mail Server", &S::server_id),
      Text("CcAccount", kNoCcAccount, &S::cc_account),
      Text("CatchAllAccount", kCatchAllOff, &S::catch_all_account),
      Number("ScanInterval", 60, &S::scan_interval),
      // Guards against one client: failed logins, sessions at once.
      Switch("RobotProtected", 1, &S::robot_protected),
      Number("MaxConnectionsPerIp", 20, &S::max_connections_per_ip, 0, 9999),
      // TLS: the certificate chain and key (PEM files), the ports encrypted
      // from the first byte (0: none), and whether passwords need TLS.
      Text("TlsCertificateFile", "", &S::tls_certificate_file).Limit(1023),
      Text("TlsPrivateKeyFile", "", &S::tls_private_key_file).Limit(1023),
      Number("SmtpsPort", 0, &S::smtps_port, 0, 65535),
      Number("Pop3sPort", 0, &S::pop3s_port, 0, 65535),
      Switch("TlsRequired", 1, &S::tls_required),
      // Read by the applet only.
      Text("StartTime", "", nullptr),
  };
  return table;
}

const ScalarSetting& Setting(std::string_view name) { return *FindScalarSetting(name); }

}  // namespace

OspreySettings::OspreySettings() {
  for (const ScalarSetting& s : Table()) {
    if (s.number) this->*s.number = s.number_default;
    if (s.text && !s.machine_default) this->*s.text = s.TextDefault();
  }
  log.level = Setting("LogLevel").number_default;
  log.max_log = Setting("MaxLog").number_default;
}

bool OspreySettings::CcAccountOn() const { return !EqualsNoCase(cc_account, B5(kNoCcAccount)); }

bool OspreySettings::CatchAllOn() const {
  return !EqualsNoCase(catch_all_account, B5(kCatchAllOff));
}

std::string ScalarSetting::TextDefault() const {
  if (machine_default) return machine_default();
  return text_default ? B5(text_default) : std::string();
}

const std::vector<ScalarSetting>& ScalarSettings() { return Table(); }

const ScalarSetting* FindScalarSetting(std::string_view name) {
  for (const ScalarSetting& s : Table()) {
    if (EqualsNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

std::string DefaultMailFolder() { return HeronHome() + "/Mailboxes/"; }

std::string ReadMailFolder(SettingsStore& store) {
  return ReadTextSetting(store, Setting("MailFolder"));
}

int32_t ReadNumberSetting(SettingsStore& store, const ScalarSetting& setting) {
  return store.ReadNumber(kSettingsKey, setting.name, setting.number_default);
}

std::string ReadTextSetting(SettingsStore& store, const ScalarSetting& setting) {
  return store.ReadText(kSettingsKey, setting.name, setting.TextDefault());
}

LogSettings ReadLogSettings(SettingsStore& store) {
  LogSettings l;
  l.level = ReadNumberSetting(store, Setting("LogLevel"));
  l.max_log = ReadNumberSetting(store, Setting("MaxLog"));
  l.path = ReadTextSetting(store, Setting("LogPath"));
  return l;
}

void ReadScalarSettings(SettingsStore& store, OspreySettings& s) {
  for (const ScalarSetting& setting : Table()) {
    if (setting.number) s.*setting.number = ReadNumberSetting(store, setting);
    if (setting.text) s.*setting.text = ReadTextSetting(store, setting);
  }
}

const ListSetting kListSettings[8] = {
    {"Relay", "MxRecords", &OspreySettings::mx_records},
    {"Domains", "Extensions", &OspreySettings::domains},
    {"IpFilter", "Addresses", &OspreySettings::ip_filter},
    {"SafeIp", "Addresses", &OspreySettings::safe_ip},
    {"ForwardRules", "Rules", &OspreySettings::forward_rules},
    {"CopyRules", "Rules", &OspreySettings::copy_rules},
    {"BlockMailFrom", "Rules", &OspreySettings::block_mail_from},
    {"BlockMailFrom2", "Rules", &OspreySettings::block_mail_from2},
};

}  // namespace heron
