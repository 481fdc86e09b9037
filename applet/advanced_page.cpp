#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/pages.h"
#include "applet/store_text.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "service/service_names.h"
#include "service/settings_store.h"

namespace heron::kestrel {

namespace {
constexpr int kPollMs = 1000;
constexpr int kVersionTimeoutMs = 15000;
}  // namespace

CAdvancedPage::CAdvancedPage(SettingsStore& store, AppletHost& host)
    : CSettingsPage(QStringLiteral("進階設定"), store, host) {
  auto* layout = new QVBoxLayout(this);
  auto* limits = new QGroupBox(QStringLiteral("連線"), this);
  auto* grid = new QGridLayout(limits);
  QSpinBox* connections = SpinField("ConnectionsLimit");
  QSpinBox* timeout = SpinField("Timeout");
  QLineEdit* size = NumberField("MaxMessageSize");
  grid->addWidget(LabelFor(connections, QStringLiteral("最大連線數：")), 0, 0);
  grid->addWidget(connections, 0, 1);
  grid->addWidget(LabelFor(timeout, QStringLiteral("連線逾時(秒)：")), 1, 0);
  grid->addWidget(timeout, 1, 1);
  grid->addWidget(LabelFor(size, QStringLiteral("郵件大小限制(MB)：")), 2, 0);
  grid->addWidget(size, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("( 0 代表不限制 )"), this), 2, 2);
  grid->addWidget(SwitchField("CpwdRemote", QStringLiteral("允許使用者遠端修改密碼")), 3, 0, 1, 3);
  grid->addWidget(
      SwitchField("ManageRemote",
                  QStringLiteral("允許遠端管理  ( 請確定有此需求再開啟，並經常更換管理者密碼 )")),
      4, 0, 1, 3);
  layout->addWidget(limits);

  // Guards against one client address: sessions at once, password guessing.
  auto* guard = new QGroupBox(QStringLiteral("安全防護"), this);
  auto* gg = new QGridLayout(guard);
  QSpinBox* per_ip = SpinField("MaxConnectionsPerIp");
  gg->addWidget(LabelFor(per_ip, QStringLiteral("單一 IP 最大連線數：")), 0, 0);
  gg->addWidget(per_ip, 0, 1);
  gg->addWidget(new QLabel(QStringLiteral("( 0 代表不限制 )"), this), 0, 2);
  gg->addWidget(SwitchField("RobotProtected",
                            QStringLiteral("啟用帳號試探保護機制  ( 同一 IP 十分鐘內登入失敗十次，"
                                           "暫停其登入十分鐘 )")),
                1, 0, 1, 3);
  layout->addWidget(guard);

  // TLS: the certificate, the ports encrypted from the first byte, and
  // passwords only over an encrypted connection.
  auto* tls = new QGroupBox(QStringLiteral("加密連線 (TLS)"), this);
  auto* tg = new QGridLayout(tls);
  QLineEdit* certificate = TextField("TlsCertificateFile");
  QLineEdit* key = TextField("TlsPrivateKeyFile");
  QSpinBox* smtps = SpinField("SmtpsPort");
  QSpinBox* pop3s = SpinField("Pop3sPort");
  tg->addWidget(LabelFor(certificate, QStringLiteral("憑證檔案 (PEM)：")), 0, 0);
  tg->addWidget(certificate, 0, 1, 1, 4);
  tg->addWidget(LabelFor(key, QStringLiteral("私密金鑰檔案 (PEM)：")), 1, 0);
  tg->addWidget(key, 1, 1, 1, 4);
  tg->addWidget(LabelFor(smtps, QStringLiteral("SMTPS 通訊埠：")), 2, 0);
  tg->addWidget(smtps, 2, 1);
  tg->addWidget(LabelFor(pop3s, QStringLiteral("POP3S 通訊埠：")), 2, 2);
  tg->addWidget(pop3s, 2, 3);
  tg->addWidget(new QLabel(QStringLiteral("( 0 代表不啟用 )"), this), 2, 4);
  tg->addWidget(
      SwitchField("TlsRequired", QStringLiteral("外部連線須先加密才能登入  ( 本機連線不受限制 )")),
      3, 0, 1, 5);
  layout->addWidget(tls);

  auto* backup_group = new QGroupBox(QStringLiteral("資料備份"), this);
  auto* bg = new QGridLayout(backup_group);
  auto* backup = new QPushButton(QStringLiteral("備份(&S)"), this);
  restore_ = new QPushButton(QStringLiteral("回存(&R)"), this);
  bg->addWidget(backup, 0, 0);
  bg->addWidget(new QLabel(QStringLiteral("※ 備份資料內含使用者帳號密碼，請妥慎保管。"), this), 0,
                1);
  bg->addWidget(restore_, 1, 0);
  bg->addWidget(new QLabel(QStringLiteral("※ 您必須先停止服務才能執行回存工作。"), this), 1, 1);
  layout->addWidget(backup_group);

  auto* version_group = new QGroupBox(QStringLiteral("版本"), this);
  auto* vg = new QGridLayout(version_group);
  auto* own = new QLabel(
      QStringLiteral("目前使用版本 [ %1 ]").arg(Ui(VersionText(std::to_string(kOwnVersion)))),
      this);
  version_ = new QPushButton(QStringLiteral("檢查是否有更新版本"), this);
  vg->addWidget(own, 0, 0);
  vg->addWidget(version_, 0, 1);
  layout->addWidget(version_group);
  layout->addStretch();

  connect(backup, &QPushButton::clicked, this, &CAdvancedPage::OnBackup);
  connect(restore_, &QPushButton::clicked, this, &CAdvancedPage::OnRestore);
  connect(version_, &QPushButton::clicked, this, &CAdvancedPage::OnCheckVersion);
  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &CAdvancedPage::PollRestore);
}

void CAdvancedPage::showEvent(QShowEvent* event) {
  CSettingsPage::showEvent(event);
  if (poll_->isActive()) return;
  poll_->start();
  PollRestore();
}

void CAdvancedPage::PollRestore() {
  std::optional<uint32_t> state = host_.ServiceState(kServiceName);
  if (state) restore_->setEnabled(*state == kServiceStopped);
}

void CAdvancedPage::OnBackup() {
  const QString caption = QStringLiteral("資料備份");
  QString folder = host_.ChooseFolder(this, QStringLiteral("選擇備份位置："), QString());
  if (folder.isEmpty()) return;
  std::string file = folder.toStdString() + "/" + BackupFileName(host_.Now());
  Registry& reg = store_.registry();
  bool ok = false;
  if (!reg.KeyExists(kRootKey)) {
    host_.Message(this, caption, QStringLiteral("ERROR_FILE_NOT_FOUND"), BoxIcon::kStop);
  } else {
    // Written beside the target and moved into place: a failed backup leaves
    // no partial file under the final name, and an older one stays whole.
    ok = reg.SaveKey(kRootKey, file);
    if (!ok) {
      host_.Message(this, caption,
                    QStringLiteral("無法寫入備份檔 %1").arg(QString::fromStdString(file)),
                    BoxIcon::kStop);
    }
  }
  if (ok) {
    host_.Message(this, caption, QStringLiteral("完成資料備份"), BoxIcon::kInformation);
  } else {
    host_.Message(this, caption, QStringLiteral("無法完成備份工作"), BoxIcon::kStop);
  }
}

void CAdvancedPage::OnRestore() {
  const QString caption = QStringLiteral("資料回存");
  QString file = host_.ChooseFile(this, QString(), QStringLiteral("資料檔 (*.db)"));
  if (file.isEmpty()) return;
  // The button follows the service state once a second; a service started
  // in between must not see its store replaced under it.
  bool ok = FileExists(file.toStdString()) && !host_.ServiceHoldsStore() &&
            store_.registry().RestoreKey(kRootKey, file.toStdString());
  if (ok) {
    host_.Message(this, caption, QStringLiteral("完成資料回存，請關閉控制台，重新啟動應用程式。！"),
                  BoxIcon::kInformation);
  } else {
    host_.Message(this, caption, QStringLiteral("無法完成資料回存工作"), BoxIcon::kStop);
  }
}

void CAdvancedPage::OnCheckVersion() {
  if (!network_) network_ = new QNetworkAccessManager(this);
  QNetworkRequest request{QUrl(host_.VersionUrl())};
  request.setTransferTimeout(kVersionTimeoutMs);
  QNetworkReply* reply = network_->get(request);
  version_->setEnabled(false);
  setCursor(Qt::BusyCursor);
  connect(reply, &QNetworkReply::finished, this, [this, reply] {
    reply->deleteLater();
    version_->setEnabled(true);
    unsetCursor();
    // Any failure stays silent.
    int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || (status != 0 && status != 200)) return;
    ShowVersionReply(reply->readAll());
  });
}

void CAdvancedPage::ShowVersionReply(const QByteArray& body) {
  VersionReply v = ReadVersionReply(body.toStdString());
  if (!v.newer) {
    host_.Message(this, QStringLiteral("版本檢查"), QStringLiteral("目前已經是最新的版本！"),
                  BoxIcon::kInformation);
    return;
  }
  QString text =
      QStringLiteral(
          "Heron Mail Server 最新版本 [ %1 ] 已開放下載...\r\n\r\n您想了解最新的版本資訊嗎？ ")
          .arg(Ui(VersionText(v.text)));
  if (host_.AskYesNo(this, QStringLiteral("版本更新通知"), text)) {
    host_.OpenUrl(host_.VersionPageUrl());
  }
}

}  // namespace heron::kestrel
