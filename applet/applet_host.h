// What the sheet needs from the desktop and the system: message boxes and
// file choosers, the editor and the browser, the service manager, the named
// events, the clock, the name servers and the DNS client. The desktop
// implementation is the program's; tests put their own in its place.
#pragma once

#include <QString>
#include <atomic>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

class QDialog;
class QWidget;

namespace heron {
class Registry;
}

namespace heron::kestrel {

enum class BoxIcon { kInformation, kStop, kExclamation, kQuestion };
enum class OpenResult { kOk, kNotFound, kFailed };

struct MxAnswer {
  bool ok = false;
  std::string error;                 // Big5, when not ok
  std::vector<std::string> entries;  // "preference host"
};

class AppletHost {
 public:
  virtual ~AppletHost() = default;

  virtual void Message(QWidget* parent, const QString& caption, const QString& text,
                       BoxIcon icon) = 0;
  virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  // Empty when nothing was chosen.
  virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
  virtual QString ChooseFile(QWidget* parent, const QString& start, const QString& filter) = 0;
  // Runs one of the sheet's own dialogs modally; true when it ended with OK.
  virtual bool RunDialog(QDialog& dialog) = 0;

  // The editor (HERON_EDITOR, else the desktop's opener) on a file.
  virtual OpenResult OpenWithEditor(const QString& path) = 0;
  virtual QString EditorName() = 0;
  virtual void OpenUrl(const QString& url) = 0;

  // Nothing when the service is not installed.
  virtual std::optional<uint32_t> ServiceState(const std::string& name) = 0;
  virtual std::optional<std::string> ServiceProgram(const std::string& name) = 0;
  // Starts a program with its arguments, detached; a failure is not told.
  virtual void RunProgram(const std::string& path, const std::vector<std::string>& args) = 0;
  // True while a mail service holds the store (a restore must wait).
  virtual bool ServiceHoldsStore() = 0;

  virtual void SetEvent(const char* name) = 0;
  virtual std::tm Now() = 0;
  virtual std::string ComputerName() = 0;
  // The system's name servers, in order.
  virtual std::vector<std::string> NameServers() = 0;
  // Called on a worker thread; ends soon after `*cancel` becomes true.
  virtual MxAnswer LookupMx(const std::string& server, const std::string& domain,
                            const std::atomic<bool>* cancel) = 0;
  virtual QString VersionUrl() = 0;
  virtual QString VersionPageUrl() = 0;
};

// The implementation for a real desktop.
class DesktopHost : public AppletHost {
 public:
  explicit DesktopHost(Registry& registry) : registry_(registry) {}
  void Message(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon) override;
  bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString ChooseFile(QWidget* parent, const QString& start, const QString& filter) override;
  bool RunDialog(QDialog& dialog) override;
  OpenResult OpenWithEditor(const QString& path) override;
  QString EditorName() override;
  void OpenUrl(const QString& url) override;
  std::optional<uint32_t> ServiceState(const std::string& name) override;
  std::optional<std::string> ServiceProgram(const std::string& name) override;
  void RunProgram(const std::string& path, const std::vector<std::string>& args) override;
  bool ServiceHoldsStore() override;
  void SetEvent(const char* name) override;
  std::tm Now() override;
  std::string ComputerName() override;
  std::vector<std::string> NameServers() override;
  MxAnswer LookupMx(const std::string& server, const std::string& domain,
                    const std::atomic<bool>* cancel) override;
  QString VersionUrl() override;
  QString VersionPageUrl() override;

 private:
  Registry& registry_;
};

}  // namespace heron::kestrel
