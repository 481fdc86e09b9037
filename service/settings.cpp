#include "service/settings.h"

#include "platform/paths.h"
#include "platform/text.h"
#include "service/settings_store.h"

namespace heron {

std::string DefaultMailFolder() { return HeronHome() + "/Mailboxes/"; }

LogSettings ReadLogSettings(SettingsStore& store) {
  LogSettings l;
  l.level = store.ReadNumber("Settings", "LogLevel", 2);
  l.max_log = store.ReadNumber("Settings", "MaxLog", 2);
  l.path = store.ReadText("Settings", "LogPath", "");
  return l;
}

void ReadScalarSettings(SettingsStore& st, OspreySettings& s) {
  const std::string k = "Settings";
  s.mail_folder = st.ReadText(k, "MailFolder", DefaultMailFolder());
  s.port = st.ReadNumber(k, "Port", 110);
  s.smtp_port = st.ReadNumber(k, "SmtpPort", 25);
  s.block_dyn_ip = st.ReadNumber(k, "BlockDynIP", 1);
  s.block_dyn_ip2 = st.ReadNumber(k, "BlockDynIP2", 1);
  s.check_dnsbl = st.ReadNumber(k, "CheckDNSBL", 1);
  s.filter_mode = st.ReadNumber(k, "FilterMode", 0);
  s.spam_tag = st.ReadText(k, "SpamTag", "[--SPAM--]");
  s.ip_cache_size = st.ReadNumber(k, "IpCacheSize", 50);
  s.connections_limit = st.ReadNumber(k, "ConnectionsLimit", 500);
  s.max_message_size = st.ReadNumber(k, "MaxMessageSize", 0);
  s.timeout = st.ReadNumber(k, "Timeout", 90);
  s.relay_timeout = st.ReadNumber(k, "RelayTimeout", 60);
  s.retry_timeout = st.ReadNumber(k, "RetryTimeout", 24);
  s.retry_times = st.ReadNumber(k, "RetryTimes", 10);
  s.auth_local = st.ReadNumber(k, "AuthLocal", 1);
  s.auth_remote = st.ReadNumber(k, "AuthRemote", 1);
  s.auth_forward = st.ReadNumber(k, "AuthForward", 0);
  s.cpwd_remote = st.ReadNumber(k, "CpwdRemote", 1);
  s.manage_remote = st.ReadNumber(k, "ManageRemote", 0);
  s.relay_messages = st.ReadNumber(k, "RelayMessages", 0);
  s.domain_as_host = st.ReadNumber(k, "DomainAsHost", 1);
  s.host_name = st.ReadText(k, "HostName", MachineHostName().substr(0, 255));
  s.dns_server = st.ReadText(k, "DNSServer", "");
  s.max_recipients = st.ReadNumber(k, "MaxRecipients", 0);
  s.server_id = st.ReadText(k, "ServerID", "Heron Mail Server");
  s.cc_account = st.ReadText(k, "CcAccount", B5("-無-"));
  s.catch_all_account = st.ReadText(k, "CatchAllAccount", B5("-停用-"));
  s.scan_interval = st.ReadNumber(k, "ScanInterval", 60);
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
