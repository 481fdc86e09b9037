// The settings pages of the sheet: General (with the service box), Advanced
// and Relay, and the list pages.
#pragma once

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/settings_page.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPushButton;
class QTimer;

namespace heron::kestrel {

class CStoredList;

class CGeneralPage : public CSettingsPage {
  Q_OBJECT
 public:
  CGeneralPage(SettingsStore& store, AppletHost& host);

  // The service box.
  void Poll();
  void OnStart();
  void OnStop();
  void OnRestart();
  // The log tools.
  void OnViewLog();
  void OnArchiveLog();
  void OnClearLog();
  void OnViewArchives();

  QLabel* status_line() const { return status_; }
  QLabel* start_time_line() const { return start_time_; }
  QPushButton* start_button() const { return start_; }
  QPushButton* stop_button() const { return stop_; }
  QPushButton* restart_button() const { return restart_; }
  bool restart_pending() const { return restart_pending_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetBoxState(int state);
  void Browse(QLineEdit* field, const QString& title);
  // LogPath as the service uses it: the stored value, or the data root.
  std::string ToolLogPath();
  std::function<void()> AskServiceToClear();
  void ReportLogTool(LogTool result, const QString& caption, const QString& done);
  void OpenInEditor(const QString& file);

  QLineEdit *pop3_port_, *smtp_port_, *server_id_, *mail_folder_, *log_path_;
  QPushButton *mail_browse_, *start_, *stop_, *restart_;
  QLabel *status_, *start_time_;
  QTimer* poll_;
  bool restart_pending_ = false;
  bool polling_ = false;
};

class CAdvancedPage : public CSettingsPage {
  Q_OBJECT
 public:
  CAdvancedPage(SettingsStore& store, AppletHost& host);

  void PollRestore();
  void OnBackup();
  void OnRestore();
  void OnCheckVersion();

  QPushButton* restore_button() const { return restore_; }
  QPushButton* version_button() const { return version_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowVersionReply(const QByteArray& body);

  QPushButton *restore_, *version_;
  QTimer* poll_;
  QNetworkAccessManager* network_ = nullptr;
};

class CRelayPage : public CSettingsPage {
  Q_OBJECT
 public:
  CRelayPage(SettingsStore& store, AppletHost& host);
  ~CRelayPage() override;

  void OnRelaySwitch();
  void OnDnsTest();
  void OnCcAccount(int index);
  bool DnsTestRunning() const { return lookup_running_; }

  QComboBox* cc_account() const { return cc_account_; }
  CStoredList* mx_records() const { return mx_records_; }
  QPushButton* dns_test_button() const { return dns_test_; }

 protected:
  void TookFields() override;
  void showEvent(QShowEvent* event) override;

 private:
  void ApplySwitch(bool warn);
  void ShowAnswer(const MxAnswer& answer);

  std::vector<QWidget*> relay_fields_;
  QCheckBox* relay_;
  QPushButton* dns_test_;
  QComboBox* cc_account_;
  CStoredList* mx_records_;
  // The DNS server as the page last took it from its field.
  std::string dns_server_;
  std::thread lookup_;
  std::atomic<bool> lookup_running_{false};
  std::atomic<bool> cancel_{false};
  bool warned_ = false;
};

// A list page of the sheet; its lists arrive with the list pages.
class CListPage : public CPropertyPage {
  Q_OBJECT
 public:
  explicit CListPage(const QString& caption) : CPropertyPage(caption) {}
};

}  // namespace heron::kestrel
