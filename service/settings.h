// The service's settings as read from the store, with their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/log_file.h"

namespace heron {

class SettingsStore;

struct OspreySettings {
  LogSettings log;
  std::string mail_folder;  // MailFolder
  int32_t port = 110;
  int32_t smtp_port = 25;
  int32_t block_dyn_ip = 1;
  int32_t block_dyn_ip2 = 1;
  int32_t check_dnsbl = 1;
  int32_t filter_mode = 0;
  std::string spam_tag = "[--SPAM--]";
  int32_t ip_cache_size = 50;
  int32_t connections_limit = 500;
  int32_t max_message_size = 0;
  int32_t timeout = 90;
  int32_t relay_timeout = 60;
  int32_t retry_timeout = 24;
  int32_t retry_times = 10;
  int32_t auth_local = 1;
  int32_t auth_remote = 1;
  int32_t auth_forward = 0;
  int32_t cpwd_remote = 1;
  int32_t manage_remote = 0;
  int32_t relay_messages = 0;
  int32_t domain_as_host = 1;
  std::string host_name;
  std::string dns_server;
  int32_t max_recipients = 0;
  std::string server_id = "Heron Mail Server";
  std::string cc_account;         // CcAccount, "-無-" = none
  std::string catch_all_account;  // CatchAllAccount, "-停用-" = off
  int32_t scan_interval = 60;

  std::vector<std::string> mx_records;
  std::vector<std::string> domains;
  std::vector<std::string> ip_filter;
  std::vector<std::string> safe_ip;
  std::vector<std::string> forward_rules;
  std::vector<std::string> copy_rules;
  std::vector<std::string> block_mail_from;
  std::vector<std::string> block_mail_from2;
};

// Default MailFolder: Mailboxes/ under the data root.
std::string DefaultMailFolder();

// Reads LogLevel, MaxLog and LogPath.
LogSettings ReadLogSettings(SettingsStore& store);
// Reads every scalar setting after the log ones, in the stored order.
void ReadScalarSettings(SettingsStore& store, OspreySettings& s);

// One list of the store: its key, value name and place in the settings.
struct ListSetting {
  const char* key;
  const char* value;
  std::vector<std::string> OspreySettings::*member;
};
// The string lists in the order they are loaded (after the accounts).
extern const ListSetting kListSettings[8];

}  // namespace heron
