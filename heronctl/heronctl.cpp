// heronctl: the administration of Heron from a shell. Reads and writes the
// settings store with the rules the applet applies (settings table, list
// rules, account rules), asks the running service to reload, and shows the
// service's state and its trace log. Texts in and out are UTF-8.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/named_objects.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/list_rules.h"
#include "service/log_file.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"
#include "service/message_file.h"
#include "service/service_names.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron {
namespace {

constexpr int kOk = 0, kRefused = 1, kUsage = 2;

const char* kUsageText =
    "usage: heronctl [--home DIR] COMMAND\n"
    "  show [NAME...]               settings and lists with their values\n"
    "  set NAME VALUE               a setting, checked as the applet checks it\n"
    "  reset NAME                   a setting back to its default\n"
    "  list NAME                    the entries of a list\n"
    "  add NAME ENTRY               an entry of a list\n"
    "  remove NAME ENTRY            an entry of a list\n"
    "  user list\n"
    "  user add NAME [--full-name TEXT] [--no-external-mail]\n"
    "  user passwd NAME             the password from standard input, or asked twice\n"
    "  user remove NAME [--delete-mail]\n"
    "  queue                        the messages of the queue, retry and bad-mail folders\n"
    "  log [-n N] [-f]              the last lines of the trace log, -f following it\n"
    "  start | stop                 the installed service, as the applet does it\n"
    "  backup FILE | restore FILE   the whole settings key (restore: service stopped)\n"
    "  reload                       the running service reads its settings again\n"
    "  status                       the state of the installed service\n"
    "Lists: Domains ForwardRules CopyRules IpFilter SafeIp BlockMailFrom BlockMailFrom2\n"
    "MxRecords. A change takes effect in a running service after \"heronctl reload\";\n"
    "new ports take effect at the next start.\n";

int Fail(int code, const std::string& text) {
  std::cerr << "heronctl: " << text << "\n";
  return code;
}

std::string Out(const std::string& big5) { return Big5ToUtf8(big5); }
std::string In(const std::string& utf8) { return Utf8ToBig5(utf8); }

bool ParseNumber(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

class Ctl {
 public:
  explicit Ctl(Registry& reg) : reg_(reg), store_(reg) {}

  int Show(const std::vector<std::string>& names) {
    for (const std::string& n : names) {
      if (!FindScalarSetting(n) && !FindEditableList(n))
        return Fail(kRefused, "no setting or list " + n);
    }
    for (const ScalarSetting& s : ScalarSettings()) {
      if (!Wanted(names, s.name)) continue;
      bool stored = store_.ReadBytes(kSettingsKey, s.name).has_value();
      std::string value = s.kind == ScalarSetting::Kind::kNumber
                              ? std::to_string(ReadNumberSetting(store_, s))
                              : Out(ReadTextSetting(store_, s));
      std::cout << s.name << " = " << value << (stored ? "" : "  (default)") << "\n";
    }
    for (const EditableList& l : EditableLists()) {
      if (!Wanted(names, l.name)) continue;
      std::cout << l.name << ":\n";
      for (const std::string& e : Entries(l)) std::cout << "  " << Out(e) << "\n";
    }
    return kOk;
  }

  int Set(const std::string& name, const std::string& value) {
    const ScalarSetting* s = FindScalarSetting(name);
    if (!s) return Fail(kRefused, "no setting named " + name);
    if (s->kind == ScalarSetting::Kind::kNumber) {
      int32_t n;
      if (!ParseNumber(value, n)) return Fail(kRefused, name + " takes a whole number");
      if (!s->Accepts(n)) {
        return Fail(kRefused,
                    StrPrintf("%s takes a number from %d to %d", s->name, s->min, s->max));
      }
      return store_.WriteNumber(kSettingsKey, s->name, n) ? kOk : Fail(kRefused, "cannot write");
    }
    std::string text = In(value);
    if (text.size() > s->max_length) {
      return Fail(kRefused, StrPrintf("%s is at most %zu bytes long", s->name, s->max_length));
    }
    return store_.WriteText(kSettingsKey, s->name, text.c_str()) ? kOk
                                                                 : Fail(kRefused, "cannot write");
  }

  int Reset(const std::string& name) {
    const ScalarSetting* s = FindScalarSetting(name);
    if (!s) return Fail(kRefused, "no setting named " + name);
    store_.DeleteValue(kSettingsKey, s->name);
    return kOk;
  }

  int List(const std::string& name) {
    const EditableList* l = FindEditableList(name);
    if (!l) return Fail(kRefused, "no list named " + name);
    for (const std::string& e : Entries(*l)) std::cout << Out(e) << "\n";
    return kOk;
  }

  int Add(const std::string& name, const std::string& entry) {
    const EditableList* l = FindEditableList(name);
    if (!l) return Fail(kRefused, "no list named " + name);
    std::vector<std::string> entries = Entries(*l);
    std::string text = In(entry);
    ListCheck check = CheckListAdd(*l, entries, text);
    if (check != ListCheck::kOk) return Fail(kRefused, ListCheckText(check));
    entries.push_back(text);
    return Write(*l, entries);
  }

  int Remove(const std::string& name, const std::string& entry) {
    const EditableList* l = FindEditableList(name);
    if (!l) return Fail(kRefused, "no list named " + name);
    std::vector<std::string> entries = Entries(*l), kept;
    std::string text = In(entry);
    for (const std::string& e : entries) {
      if (!EqualsNoCase(e, text)) kept.push_back(e);
    }
    if (kept.size() == entries.size()) return Fail(kRefused, "no such entry in " + l->name);
    return Write(*l, kept);
  }

  int User(const std::vector<std::string>& args) {
    AccountStore accounts(store_, [this] { return ReadMailFolder(store_); });
    AccountStore::LoadResult loaded = accounts.Load();
    const std::string& verb = args.empty() ? "" : args[0];
    if (verb != "list" && (loaded == AccountStore::LoadResult::kUndecodable ||
                           loaded == AccountStore::LoadResult::kTooLong)) {
      // Writing now would replace every stored account with this one change.
      return Fail(kRefused, "the stored account list cannot be read; nothing is changed");
    }
    if (verb == "list" && args.size() == 1) {
      for (const CUserAccount& a : accounts.accounts()) {
        std::cout << Out(a.name) << (a.full_name.empty() ? "" : "  " + Out(a.full_name))
                  << (a.no_external_mail ? "  (no external mail)" : "")
                  << (a.password.empty() ? "  (no password: cannot log in)" : "") << "\n";
      }
      return kOk;
    }
    if (args.size() < 2) return Fail(kUsage, "user list|add|passwd|remove NAME");
    std::string name = In(args[1]);
    if (verb == "add") {
      CUserAccount a{name, "", "", 0};
      for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--full-name" && i + 1 < args.size()) {
          a.full_name = In(args[++i]);
        } else if (args[i] == "--no-external-mail") {
          a.no_external_mail = 1;
        } else {
          return Fail(kUsage, "unknown option " + args[i]);
        }
      }
      if (!IsMailboxName(name)) return Fail(kRefused, args[1] + " cannot be a mailbox name");
      if (accounts.Exists(name)) return Fail(kRefused, args[1] + " exists already");
      std::string password;
      if (!ReadPassword(password)) return Fail(kRefused, "the passwords differ or are empty");
      a.password = password;
      return accounts.Add(a, true) ? kOk : Fail(kRefused, "the account list would be too long");
    }
    if (verb == "passwd" && args.size() == 2) {
      if (!accounts.Exists(name)) return Fail(kRefused, "no account named " + args[1]);
      std::string password;
      if (!ReadPassword(password)) return Fail(kRefused, "the passwords differ or are empty");
      return accounts.SetPassword(name, password) ? kOk : Fail(kRefused, "cannot store it");
    }
    if (verb == "remove") {
      bool delete_mail = args.size() == 3 && args[2] == "--delete-mail";
      if (args.size() > 3 || (args.size() == 3 && !delete_mail)) return Fail(kUsage, kUsageText);
      if (IsDefaultAccount(name)) return Fail(kRefused, "admin cannot be removed");
      if (!accounts.Exists(name)) return Fail(kRefused, "no account named " + args[1]);
      if (!accounts.Delete(name)) return Fail(kRefused, "cannot store the account list");
      if (delete_mail) {
        if (int error = DeleteMailbox(MailRoot(ReadMailFolder(store_)), name)) {
          return Fail(kRefused, "the account is removed; its mail folder stays: " +
                                    std::string(std::strerror(error)));
        }
      }
      return kOk;
    }
    return Fail(kUsage, kUsageText);
  }

  int Log(size_t lines) {
    LogSettings settings = ReadLogSettings(store_);
    std::string path = LogFilePathFor(settings, HeronHome());
    std::string text;
    if (!ReadFile(path, text)) return Fail(kRefused, "cannot read " + path);
    // Back from the end over `lines` line ends (a last line without one
    // counts too).
    size_t pos = text.size();
    if (pos > 0 && text[pos - 1] == '\n') --pos;
    for (size_t n = 0; n < lines && pos > 0; ++n) {
      size_t nl = text.rfind('\n', pos - 1);
      pos = nl == std::string::npos ? 0 : nl;
    }
    if (pos > 0 || (!text.empty() && text[0] == '\n')) ++pos;
    if (lines == 0) pos = text.size();
    std::string tail = text.substr(pos);
    std::string out;
    for (char c : Out(tail)) {
      if (c != '\r') out += c;
    }
    std::cout << out;
    return kOk;
  }

  int Queue() {
    std::string root = MailRoot(ReadMailFolder(store_));
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (const char* folder :
         {kQueueFolder, kXQueueFolder, kYQueueFolder, kZQueueFolder, kBadmailFolder}) {
      for (const FileEntry& e : ListFolder(FolderPath(root, folder))) {
        if (e.is_dir || !HasMessageExtension(e.name)) continue;
        std::string head;
        ReadFileHead(FolderPath(FolderPath(root, folder), e.name), 64 * 1024, head);
        std::string recipients;
        for (const std::string& r : ReadRecipients(head))
          recipients += (recipients.empty() ? "" : ",") + r;
        std::cout << folder << "\t" << TrimWorkPrefix(TrimExtension(e.name)) << "\t"
                  << (now - e.mtime) / 60 << "min\t" << e.size << "\t"
                  << Out(ReadHeaderFields(head).sender) << "\t" << Out(recipients) << "\n";
      }
    }
    return kOk;
  }

  int Follow(size_t lines) {
    int rc = Log(lines);
    if (rc != kOk) return rc;
    std::string path = LogFilePathFor(ReadLogSettings(store_), HeronHome());
    auto st = StatFile(path);
    uint64_t offset = st ? st->size : 0;
    for (;;) {
      usleep(500 * 1000);
      auto now = StatFile(path);
      if (!now) continue;
      if (now->size < offset) offset = 0;  // cleared or archived: a new file
      if (now->size == offset) continue;
      std::string text;
      if (!ReadFile(path, text) || text.size() < offset) continue;
      std::string out;
      for (char c : Out(text.substr(offset))) {
        if (c != '\r') out += c;
      }
      std::cout << out << std::flush;
      offset = text.size();
    }
  }

  int Control(const char* verb) {
    ServiceManager scm(reg_);
    auto config = scm.QueryConfig(kServiceName);
    if (!config) return Fail(kRefused, "the service is not installed (osprey -i installs it)");
    // As the applet does: the service program itself, with its verb.
    std::string command = "'" + config->image_path + "' " + verb;
    int status = std::system(command.c_str());
    return status == 0 ? kOk : kRefused;
  }

  int Backup(const std::string& file) {
    return reg_.SaveKey(kRootKey, file) ? kOk : Fail(kRefused, "cannot write " + file);
  }

  int Restore(const std::string& file) {
    NamedMutex mutex;
    if (mutex.TryAcquire(kMutexName) != NamedMutex::Result::kAcquired) {
      return Fail(kRefused, "the service is running: stop it first");
    }
    return reg_.RestoreKey(kRootKey, file) ? kOk : Fail(kRefused, "cannot restore from " + file);
  }

  int Status() {
    ServiceManager scm(reg_);
    if (!scm.IsInstalled(kServiceName)) {
      std::cout << "not installed (run the service with osprey -d, or install it with osprey -i)\n";
      return kOk;
    }
    ServiceStatus st = scm.Query(kServiceName);
    const char* names[] = {"?",       "stopped",    "starting", "stopping",
                           "running", "continuing", "pausing",  "paused"};
    std::cout << (st.current_state < 8 ? names[st.current_state] : "?");
    if (st.current_state == kServiceRunning) std::cout << " (pid " << st.pid << ")";
    std::cout << "\n";
    return kOk;
  }

 private:
  static bool Wanted(const std::vector<std::string>& names, const std::string& name) {
    if (names.empty()) return true;
    for (const std::string& n : names) {
      if (EqualsNoCase(n, name)) return true;
    }
    return false;
  }

  std::vector<std::string> Entries(const EditableList& l) {
    return store_.ReadList(l.setting->key, l.setting->value).value_or(std::vector<std::string>{});
  }

  int Write(const EditableList& l, const std::vector<std::string>& entries) {
    return store_.WriteList(l.setting->key, l.setting->value, entries)
               ? kOk
               : Fail(kRefused, "cannot write the list");
  }

  // One line from standard input when it is not a terminal; else asked twice
  // without echo.
  static bool ReadPassword(std::string& out) {
    if (!isatty(STDIN_FILENO)) {
      if (!std::getline(std::cin, out)) return false;
      if (!out.empty() && out.back() == '\r') out.pop_back();
      out = Utf8ToBig5(out);
      return !out.empty();
    }
    auto ask = [](const char* prompt, std::string& line) {
      termios old{};
      tcgetattr(STDIN_FILENO, &old);
      termios quiet = old;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
      std::cerr << prompt;
      bool ok = static_cast<bool>(std::getline(std::cin, line));
      tcsetattr(STDIN_FILENO, TCSANOW, &old);
      std::cerr << "\n";
      return ok;
    };
    std::string again;
    if (!ask("New password: ", out) || !ask("Again: ", again) || out != again) return false;
    out = Utf8ToBig5(out);
    return !out.empty();
  }

  Registry& reg_;
  SettingsStore store_;
};

int Main(std::vector<std::string> args) {
  if (args.size() >= 2 && args[0] == "--home") {
    setenv("HERON_HOME", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsageText;
    return args.empty() ? kUsage : kOk;
  }
  Registry* reg;
  try {
    reg = &Registry::Shared();
  } catch (const RegistryError& e) {
    return Fail(kRefused, e.what());
  }
  Ctl ctl(*reg);
  const std::string& cmd = args[0];
  auto rest = std::vector<std::string>(args.begin() + 1, args.end());
  if (cmd == "show") return ctl.Show(rest);
  if (cmd == "set" && rest.size() == 2) return ctl.Set(rest[0], rest[1]);
  if (cmd == "reset" && rest.size() == 1) return ctl.Reset(rest[0]);
  if (cmd == "list" && rest.size() == 1) return ctl.List(rest[0]);
  if (cmd == "add" && rest.size() == 2) return ctl.Add(rest[0], rest[1]);
  if (cmd == "remove" && rest.size() == 2) return ctl.Remove(rest[0], rest[1]);
  if (cmd == "user") return ctl.User(rest);
  if (cmd == "status" && rest.empty()) return ctl.Status();
  if (cmd == "reload" && rest.empty()) {
    NamedEvent::Set(kReloadEventName);  // no effect when no service runs
    return kOk;
  }
  if (cmd == "queue" && rest.empty()) return ctl.Queue();
  if ((cmd == "start" || cmd == "stop") && rest.empty())
    return ctl.Control(cmd == "start" ? "-s" : "-e");
  if (cmd == "backup" && rest.size() == 1) return ctl.Backup(rest[0]);
  if (cmd == "restore" && rest.size() == 1) return ctl.Restore(rest[0]);
  if (cmd == "log") {
    int32_t n = 20;
    bool follow = false, ok = true;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == "-f") {
        follow = true;
      } else if (rest[i] == "-n" && i + 1 < rest.size() && ParseNumber(rest[i + 1], n) && n >= 0) {
        ++i;
      } else {
        ok = false;
      }
    }
    if (ok) return follow ? ctl.Follow(static_cast<size_t>(n)) : ctl.Log(static_cast<size_t>(n));
  }
  std::cerr << kUsageText;
  return kUsage;
}

}  // namespace
}  // namespace heron

int main(int argc, char** argv) {
  return heron::Main(std::vector<std::string>(argv + 1, argv + argc));
}
