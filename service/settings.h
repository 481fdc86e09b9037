// The scalar settings of the store in one table (value name, kind, default,
// accepted range), the service's copy of them and of the lists, and their
// reading. The service, the administration command and the applet all read
// and check settings through this table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/log_file.h"

namespace heron {

class SettingsStore;

// Subkey of the scalar settings.
inline constexpr const char* kSettingsKey = "Settings";
// The sentinel texts of the two account choices, in UTF-8 (stored as Big5:
// B5(kNoCcAccount)): no copy account, catch-all account off.
inline constexpr const char* kNoCcAccount = "-無-";
inline constexpr const char* kCatchAllOff = "-停用-";

struct OspreySettings {
  // Every value holds its default of the settings table, except those that
  // depend on the machine (MailFolder, HostName), which stay empty.
  OspreySettings();

  LogSettings log;
  std::string mail_folder;  // MailFolder
  int32_t port;
  int32_t smtp_port;
  int32_t block_dyn_ip;
  int32_t block_dyn_ip2;
  int32_t check_dnsbl;
  int32_t filter_mode;
  std::string spam_tag;
  int32_t ip_cache_size;
  int32_t connections_limit;
  int32_t max_message_size;
  int32_t timeout;
  int32_t relay_timeout;
  int32_t retry_timeout;
  int32_t retry_times;
  int32_t auth_local;
  int32_t auth_remote;
  int32_t auth_forward;
  int32_t cpwd_remote;
  int32_t manage_remote;
  int32_t relay_messages;
  int32_t domain_as_host;
  std::string host_name;
  std::string dns_server;
  int32_t max_recipients;
  std::string server_id;
  std::string cc_account;         // CcAccount, kNoCcAccount = none
  std::string catch_all_account;  // CatchAllAccount, kCatchAllOff = off
  int32_t scan_interval;
  int32_t robot_protected;           // RobotProtected: login throttling
  int32_t max_connections_per_ip;    // MaxConnectionsPerIp, 0 = no cap
  std::string tls_certificate_file;  // TlsCertificateFile, PEM chain
  std::string tls_private_key_file;  // TlsPrivateKeyFile, PEM
  int32_t smtps_port;                // SmtpsPort, 0 = off
  int32_t pop3s_port;                // Pop3sPort, 0 = off
  int32_t tls_required;              // TlsRequired: logins only over TLS

  std::vector<std::string> mx_records;
  std::vector<std::string> domains;
  std::vector<std::string> ip_filter;
  std::vector<std::string> safe_ip;
  std::vector<std::string> forward_rules;
  std::vector<std::string> copy_rules;
  std::vector<std::string> block_mail_from;
  std::vector<std::string> block_mail_from2;

  bool CcAccountOn() const;
  bool CatchAllOn() const;
};

// One scalar value of the Settings subkey.
struct ScalarSetting {
  enum class Kind { kNumber, kText };
  const char* name;
  Kind kind;
  int32_t number_default;
  const char* text_default;          // UTF-8; stored and held as Big5
  std::string (*machine_default)();  // instead of text_default, when set
  int32_t min, max;                  // what administration tools accept
  size_t max_length;                 // of a text, in bytes
  // Where the service holds it; both null for settings others read.
  int32_t OspreySettings::*number;
  std::string OspreySettings::*text;

  // The default as the store holds it (Big5).
  std::string TextDefault() const;
  bool Accepts(int32_t value) const { return value >= min && value <= max; }
  ScalarSetting Limit(size_t length) const {
    ScalarSetting s = *this;
    s.max_length = length;
    return s;
  }
};

// Every scalar setting, the log settings first, then in the order the
// service reads them.
const std::vector<ScalarSetting>& ScalarSettings();
// The setting of that name (case ignored), or null.
const ScalarSetting* FindScalarSetting(std::string_view name);

// Default MailFolder: Mailboxes/ under the data root.
std::string DefaultMailFolder();
// MailFolder as stored, or its default.
std::string ReadMailFolder(SettingsStore& store);

// Reads LogLevel, MaxLog and LogPath.
LogSettings ReadLogSettings(SettingsStore& store);
// Reads every scalar setting the service holds, after the log ones, in the
// table's order.
void ReadScalarSettings(SettingsStore& store, OspreySettings& s);
// Reads one setting with its default.
int32_t ReadNumberSetting(SettingsStore& store, const ScalarSetting& setting);
std::string ReadTextSetting(SettingsStore& store, const ScalarSetting& setting);

// One list of the store: its key, value name and place in the settings.
struct ListSetting {
  const char* key;
  const char* value;
  std::vector<std::string> OspreySettings::*member;
};
// The string lists in the order they are loaded (after the accounts).
extern const ListSetting kListSettings[8];

}  // namespace heron
