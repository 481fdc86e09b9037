#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/pages.h"
#include "applet/store_text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "service/service_names.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron::kestrel {

namespace {
constexpr int kPollMs = 1000;
}

CGeneralPage::CGeneralPage(SettingsStore& store, AppletHost& host)
    : CSettingsPage(QStringLiteral("一般設定"), store, host) {
  auto* layout = new QVBoxLayout(this);

  auto* server = new QGroupBox(QStringLiteral("伺服器"), this);
  auto* grid = new QGridLayout(server);
  pop3_port_ = NumberField("Port");
  smtp_port_ = NumberField("SmtpPort");
  server_id_ = TextField("ServerID");
  mail_folder_ = TextField("MailFolder");
  mail_browse_ = new QPushButton(QStringLiteral(".."), this);
  mail_browse_->setAccessibleName(QStringLiteral("選擇郵件信箱位置："));
  grid->addWidget(LabelFor(pop3_port_, QStringLiteral("POP3 通訊埠：")), 0, 0);
  grid->addWidget(pop3_port_, 0, 1);
  grid->addWidget(LabelFor(smtp_port_, QStringLiteral("SMTP通訊埠：")), 0, 2);
  grid->addWidget(smtp_port_, 0, 3, 1, 2);
  grid->addWidget(LabelFor(server_id_, QStringLiteral("伺服器 ID：")), 1, 0);
  grid->addWidget(server_id_, 1, 1, 1, 4);
  grid->addWidget(LabelFor(mail_folder_, QStringLiteral("郵件資料夾：")), 2, 0);
  grid->addWidget(mail_folder_, 2, 1, 1, 3);
  grid->addWidget(mail_browse_, 2, 4);
  layout->addWidget(server);

  auto* log = new QGroupBox(QStringLiteral("系統記錄檔"), this);
  auto* lg = new QGridLayout(log);
  QComboBox* level = ChoiceField("LogLevel", {QStringLiteral("不紀錄"), QStringLiteral("錯誤"),
                                              QStringLiteral("常態追蹤"), QStringLiteral("偵錯")});
  QLineEdit* max_log = NumberField("MaxLog");
  log_path_ = TextField("LogPath");
  auto* log_browse = new QPushButton(QStringLiteral(".."), this);
  log_browse->setAccessibleName(QStringLiteral("選擇紀錄檔存放位置："));
  lg->addWidget(LabelFor(level, QStringLiteral("記錄等級：")), 0, 0);
  lg->addWidget(level, 0, 1);
  lg->addWidget(LabelFor(max_log, QStringLiteral("檔案限制：")), 1, 0);
  lg->addWidget(max_log, 1, 1);
  lg->addWidget(new QLabel(QStringLiteral("MB (超過指定的大小，系統將自動封存紀錄檔)"), this), 1, 2,
                1, 3);
  lg->addWidget(LabelFor(log_path_, QStringLiteral("記錄檔位置：")), 2, 0);
  lg->addWidget(log_path_, 2, 1, 1, 3);
  lg->addWidget(log_browse, 2, 4);
  auto* tools = new QHBoxLayout;
  auto* view = new QPushButton(QStringLiteral("檢視(&V)..."), this);
  auto* archive = new QPushButton(QStringLiteral("封存(&A)..."), this);
  auto* clear = new QPushButton(QStringLiteral("清除(&C)..."), this);
  auto* archives = new QPushButton(QStringLiteral("檢視封存檔"), this);
  for (QPushButton* b : {view, archive, clear, archives}) tools->addWidget(b);
  lg->addLayout(tools, 3, 0, 1, 5);
  auto* note = new QLabel(
      QStringLiteral(
          "※ 因作業系統安全性設定關係，系統服務執行期間，紀錄檔可能無法執行清除或封存動作。"),
      this);
  note->setWordWrap(true);
  lg->addWidget(note, 4, 0, 1, 5);
  layout->addWidget(log);

  auto* service = new QGroupBox(QStringLiteral("服務狀態"), this);
  auto* sg = new QGridLayout(service);
  status_ = new QLabel(Ui(kNotInstalledText), this);
  start_ = new QPushButton(QStringLiteral("啟動(&S)"), this);
  stop_ = new QPushButton(QStringLiteral("停止(&T)"), this);
  restart_ = new QPushButton(QStringLiteral("重新啟動"), this);
  restart_->setVisible(false);
  start_time_ = new QLabel(FromStore(store_.ReadText(kSettingsKey, "StartTime", "")), this);
  sg->addWidget(status_, 0, 0);
  sg->addWidget(start_, 0, 1);
  sg->addWidget(stop_, 0, 2);
  sg->addWidget(restart_, 0, 3);
  sg->addWidget(start_time_, 1, 0, 1, 4);
  layout->addWidget(service);
  layout->addStretch();

  connect(mail_browse_, &QPushButton::clicked, this,
          [this] { Browse(mail_folder_, QStringLiteral("選擇郵件信箱位置：")); });
  connect(log_browse, &QPushButton::clicked, this,
          [this] { Browse(log_path_, QStringLiteral("選擇紀錄檔存放位置：")); });
  connect(view, &QPushButton::clicked, this, &CGeneralPage::OnViewLog);
  connect(archive, &QPushButton::clicked, this, &CGeneralPage::OnArchiveLog);
  connect(clear, &QPushButton::clicked, this, &CGeneralPage::OnClearLog);
  connect(archives, &QPushButton::clicked, this, &CGeneralPage::OnViewArchives);
  connect(start_, &QPushButton::clicked, this, &CGeneralPage::OnStart);
  connect(stop_, &QPushButton::clicked, this, &CGeneralPage::OnStop);
  connect(restart_, &QPushButton::clicked, this, &CGeneralPage::OnRestart);

  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &CGeneralPage::Poll);
}

void CGeneralPage::showEvent(QShowEvent* event) {
  CSettingsPage::showEvent(event);
  if (polling_) return;
  // As the page's window is made: the server ID waits for the first poll.
  polling_ = true;
  server_id_->setEnabled(false);
  poll_->start();
  Poll();
}

void CGeneralPage::SetBoxState(int state) {
  auto s = static_cast<BoxState>(state);
  start_->setEnabled(s == BoxState::kStopped);
  stop_->setEnabled(s == BoxState::kRunning);
  restart_->setEnabled(s == BoxState::kRunning && !restart_pending_);
  for (QWidget* w : {static_cast<QWidget*>(pop3_port_), static_cast<QWidget*>(smtp_port_),
                     static_cast<QWidget*>(server_id_), static_cast<QWidget*>(mail_folder_),
                     static_cast<QWidget*>(mail_browse_)}) {
    w->setEnabled(s == BoxState::kStopped);
  }
}

void CGeneralPage::Poll() {
  std::optional<uint32_t> state = host_.ServiceState(kServiceName);
  if (!state) return;  // not installed: the box stays as it is
  ServiceView view = ViewOfServiceState(*state);
  status_->setText(Ui(view.status));
  SetBoxState(static_cast<int>(view.state));
  if (view.state == BoxState::kStopped && restart_pending_) {
    restart_pending_ = false;
    OnStart();
  }
}

void CGeneralPage::OnStart() {
  SetBoxState(static_cast<int>(BoxState::kPending));
  status_->setText(QStringLiteral("正在啟動"));
  restart_pending_ = false;
  for (const char* name : {kServiceName, kMonitorServiceName}) {
    if (auto path = host_.ServiceProgram(name)) host_.RunProgram(*path, {"-s"});
  }
  std::string text = StartTimeText(host_.Now());
  start_time_->setText(Ui(text));
  std::string stored = Utf8ToBig5(text);
  store_.WriteText(kSettingsKey, "StartTime", stored.c_str());
}

void CGeneralPage::OnStop() {
  SetBoxState(static_cast<int>(BoxState::kPending));
  status_->setText(QStringLiteral("正在停止..."));
  for (const char* name : {kMonitorServiceName, kServiceName}) {
    if (auto path = host_.ServiceProgram(name)) host_.RunProgram(*path, {"-e"});
  }
}

void CGeneralPage::OnRestart() {
  OnStop();
  restart_pending_ = true;
}

void CGeneralPage::Browse(QLineEdit* field, const QString& title) {
  QString folder = host_.ChooseFolder(this, title, field->text());
  if (folder.isEmpty()) return;
  field->setText(QDir::toNativeSeparators(folder));
  SetModified();
}

std::string CGeneralPage::ToolLogPath() {
  // An absent LogPath means the service's own folder; the page's default
  // would send the tools to a folder the service does not write.
  return store_.ReadText(kSettingsKey, "LogPath", HeronHome());
}

void CGeneralPage::OpenInEditor(const QString& file) {
  const QString editor = host_.EditorName();
  OpenResult r = host_.OpenWithEditor(file);
  if (r == OpenResult::kOk) return;
  QString text = r == OpenResult::kNotFound ? QStringLiteral("找不到 '%1'！").arg(editor)
                                            : QStringLiteral("%1執行錯誤").arg(editor);
  host_.Message(this, QStringLiteral("ShellExecute 執行錯誤"), text, BoxIcon::kExclamation);
}

void CGeneralPage::OnViewLog() {
  std::string path = ToolLogPath();
  if (path.empty()) path = HeronHome();  // the service program's folder
  OpenInEditor(FromStore(TraceLogFile(path)));
}

void CGeneralPage::OnArchiveLog() {
  ReportLogTool(ArchiveTraceLog(ToolLogPath(), host_.Now(), AskServiceToClear()),
                QStringLiteral("封存"), QStringLiteral("已完成記錄檔封存！"));
}

void CGeneralPage::OnClearLog() {
  ReportLogTool(ClearTraceLog(ToolLogPath(), AskServiceToClear()), QStringLiteral("清除記錄檔"),
                QStringLiteral("記錄檔已清除！"));
}

std::function<void()> CGeneralPage::AskServiceToClear() {
  // The running service holds the log open: it empties the log itself.
  return [this] { host_.SetEvent(kClearLogEventName); };
}

void CGeneralPage::ReportLogTool(LogTool r, const QString& caption, const QString& done) {
  if (r == LogTool::kDone) {
    host_.Message(this, caption, done, BoxIcon::kInformation);
  } else {
    host_.Message(this, QStringLiteral("無法讀取紀錄檔"), Ui(LogToolMessage(r)), BoxIcon::kStop);
  }
}

void CGeneralPage::OnViewArchives() {
  LogSettings s;
  s.path = ToolLogPath();
  std::string folder = ArchiveFolderFor(s, HeronHome());
  CreateFolderPath(folder);
  QString file = host_.ChooseFile(this, FromStore(folder), QStringLiteral("資料檔 (*.log)"));
  if (!file.isEmpty()) OpenInEditor(file);
}

}  // namespace heron::kestrel
