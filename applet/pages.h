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
#include "service/accounts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QPushButton;
class QTimer;
class QTreeWidget;

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

class CDomainsPage : public CPropertyPage {
  Q_OBJECT
 public:
  CDomainsPage(SettingsStore& store, AppletHost& host);
  // Starts the diagnosis tool beside the service program for the selected
  // domain.
  void OnDnsTest();
  CStoredList* domains() const { return domains_; }

 private:
  SettingsStore& store_;
  AppletHost& host_;
  CStoredList* domains_;
};

class CUserAccountPage : public CPropertyPage {
  Q_OBJECT
 public:
  CUserAccountPage(SettingsStore& store, AppletHost& host);
  void OnAdd();
  void OnEdit();
  void OnRemove();
  void OnRefresh();
  void OnCatchAll(int index);

  QTreeWidget* view() const { return view_; }
  QComboBox* catch_all() const { return catch_all_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Loads the accounts when the page first opens: the default account and
  // the mailbox folders are made then.
  void EnsureLoaded();
  // Stores the rows in the applet's order; false when the list would be too
  // long (the store keeps the list before).
  bool StoreRows();
  void Fill();
  int SelectedRow() const;
  std::string MailRootNow();

  SettingsStore& store_;
  AppletHost& host_;
  std::unique_ptr<AccountStore> accounts_;
  std::vector<CUserAccount> rows_;
  bool loaded_ = false;
  QTreeWidget* view_;
  QComboBox* catch_all_;
};

class CForwardRulesPage : public CPropertyPage {
  Q_OBJECT
 public:
  CForwardRulesPage(SettingsStore& store, AppletHost& host);
  CStoredList* forward_rules() const { return forward_; }
  CStoredList* copy_rules() const { return copy_; }

 private:
  CStoredList *forward_, *copy_;
};

class CIpFilterPage : public CSettingsPage {
  Q_OBJECT
 public:
  CIpFilterPage(SettingsStore& store, AppletHost& host);
  CStoredList* list(int index) const { return lists_[index]; }  // block, safe, senders, names

 private:
  CStoredList* lists_[4];
};
}  // namespace heron::kestrel
