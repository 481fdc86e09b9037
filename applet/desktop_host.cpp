#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <fstream>
#include <sstream>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "dns/dns_lookup.h"
#include "platform/named_objects.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "service/service_names.h"

namespace heron::kestrel {

namespace {

QMessageBox::Icon IconOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kStop:
      return QMessageBox::Critical;
    case BoxIcon::kExclamation:
      return QMessageBox::Warning;
    case BoxIcon::kQuestion:
      return QMessageBox::Question;
    case BoxIcon::kInformation:
      break;
  }
  return QMessageBox::Information;
}

// The opener's command: HERON_EDITOR (a program, perhaps with arguments),
// else the desktop's own; it opens files and web pages.
QStringList EditorCommand() {
  QString editor = qEnvironmentVariable("HERON_EDITOR");
  QStringList words = QProcess::splitCommand(editor);
  if (words.isEmpty()) words << QStringLiteral("xdg-open");
  return words;
}

}  // namespace

void DesktopHost::Message(QWidget* parent, const QString& caption, const QString& text,
                          BoxIcon icon) {
  QMessageBox box(IconOf(icon), caption, text, QMessageBox::Ok, parent);
  box.exec();
}

bool DesktopHost::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

QString DesktopHost::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

QString DesktopHost::ChooseFile(QWidget* parent, const QString& start, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QString(), start, filter);
}

bool DesktopHost::RunDialog(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

OpenResult DesktopHost::OpenWithEditor(const QString& path) {
  QStringList words = EditorCommand();
  QString program = words.takeFirst();
  if (QStandardPaths::findExecutable(program).isEmpty() && !QFileInfo(program).isExecutable()) {
    return OpenResult::kNotFound;
  }
  return QProcess::startDetached(program, words << path) ? OpenResult::kOk : OpenResult::kFailed;
}

QString DesktopHost::EditorName() { return EditorCommand().first(); }

void DesktopHost::OpenUrl(const QString& url) {
  QStringList words = EditorCommand();
  QString program = words.takeFirst();
  QProcess::startDetached(program, words << url);
}

std::optional<uint32_t> DesktopHost::ServiceState(const std::string& name) {
  ServiceManager scm(registry_);
  if (!scm.IsInstalled(name)) return std::nullopt;
  return scm.Query(name).current_state;
}

std::optional<std::string> DesktopHost::ServiceProgram(const std::string& name) {
  ServiceManager scm(registry_);
  auto config = scm.QueryConfig(name);
  if (!config || config->image_path.empty()) return std::nullopt;
  return config->image_path;
}

void DesktopHost::RunProgram(const std::string& path, const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  QProcess::startDetached(QString::fromStdString(path), list);
}

bool DesktopHost::ServiceHoldsStore() {
  NamedMutex mutex;
  return mutex.TryAcquire(kMutexName) != NamedMutex::Result::kAcquired;
}

void DesktopHost::SetEvent(const char* name) { NamedEvent::Set(name); }

std::tm DesktopHost::Now() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

std::string DesktopHost::ComputerName() { return MachineHostName(); }

std::vector<std::string> DesktopHost::NameServers() {
  std::ifstream in("/etc/resolv.conf");
  std::stringstream text;
  text << in.rdbuf();
  return ResolvConfServers(text.str());
}

MxAnswer DesktopHost::LookupMx(const std::string& server, const std::string& domain,
                               const std::atomic<bool>* cancel) {
  CDnsLookup lookup(DnsTexts::Chinese());
  lookup.SetCancel(cancel);
  MxAnswer answer;
  answer.ok = lookup.Lookup(server, domain, answer.entries);
  if (!answer.ok) answer.error = lookup.GetErrorText();
  return answer;
}

QString DesktopHost::VersionUrl() {
  QString url = qEnvironmentVariable("HERON_VERSION_URL");
  return url.isEmpty() ? QStringLiteral("https://www.tallyworks.example/heron/version.txt") : url;
}

QString DesktopHost::VersionPageUrl() {
  return QStringLiteral("https://www.tallyworks.example/heron/");
}

}  // namespace heron::kestrel
