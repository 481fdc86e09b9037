// A host for the sheet in tests: records message boxes, events and started
// programs, answers choosers and dialogs from queues the test fills.
#pragma once

#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>

#include "applet/applet_host.h"

namespace heron::kestrel::testing {

class FakeHost : public AppletHost {
 public:
  struct Box {
    QString caption, text;
    BoxIcon icon;
  };
  std::vector<Box> boxes;
  std::vector<std::string> events;
  std::vector<std::string> runs;  // "path verb"
  std::deque<QString> folders, files;
  // Fills a dialog and says whether it ends with OK; none = Cancel.
  std::deque<std::function<bool(QDialog&)>> dialogs;
  bool answer_yes = false;
  std::vector<QString> opened, urls;
  OpenResult open_result = OpenResult::kOk;
  std::map<std::string, uint32_t> states;       // installed services
  std::map<std::string, std::string> programs;  // their program paths
  bool holds_store = false;
  std::tm now{};
  std::string computer = "officepc";
  std::vector<std::string> name_servers;
  MxAnswer mx;
  std::vector<std::pair<std::string, std::string>> lookups;  // server, domain
  QString version_url = QStringLiteral("http://127.0.0.1:9/version.txt");

  void Message(QWidget*, const QString& caption, const QString& text, BoxIcon icon) override {
    boxes.push_back({caption, text, icon});
  }
  bool AskYesNo(QWidget*, const QString& caption, const QString& text) override {
    boxes.push_back({caption, text, BoxIcon::kQuestion});
    return answer_yes;
  }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return Take(folders); }
  QString ChooseFile(QWidget*, const QString&, const QString&) override { return Take(files); }
  bool RunDialog(QDialog& dialog) override {
    if (dialogs.empty()) return false;
    auto fill = dialogs.front();
    dialogs.pop_front();
    // OK goes through the dialog's own checks, which may keep it open.
    if (!fill(dialog)) return false;
    dialog.accept();
    return dialog.result() == QDialog::Accepted;
  }
  OpenResult OpenWithEditor(const QString& path) override {
    opened.push_back(path);
    return open_result;
  }
  QString EditorName() override { return QStringLiteral("xdg-open"); }
  void OpenUrl(const QString& url) override { urls.push_back(url); }
  std::optional<uint32_t> ServiceState(const std::string& name) override {
    auto it = states.find(name);
    if (it == states.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> ServiceProgram(const std::string& name) override {
    auto it = programs.find(name);
    if (it == programs.end()) return std::nullopt;
    return it->second;
  }
  void RunProgram(const std::string& path, const std::vector<std::string>& args) override {
    std::string run = path;
    for (const std::string& a : args) run.append(" ").append(a);
    runs.push_back(run);
  }
  bool ServiceHoldsStore() override { return holds_store; }
  void SetEvent(const char* name) override { events.push_back(name); }
  std::tm Now() override { return now; }
  std::string ComputerName() override { return computer; }
  std::vector<std::string> NameServers() override { return name_servers; }
  MxAnswer LookupMx(const std::string& server, const std::string& domain,
                    const std::atomic<bool>*) override {
    lookups.emplace_back(server, domain);
    return mx;
  }
  QString VersionUrl() override { return version_url; }
  QString VersionPageUrl() override { return QStringLiteral("https://example.invalid/heron"); }

  QStringList Texts() const {
    QStringList t;
    for (const Box& b : boxes) t << b.text;
    return t;
  }

 private:
  static QString Take(std::deque<QString>& q) {
    if (q.empty()) return {};
    QString v = q.front();
    q.pop_front();
    return v;
  }
};

}  // namespace heron::kestrel::testing
