#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/list_view.h"
#include "applet/pages.h"
#include "applet/store_text.h"
#include "service/accounts.h"
#include "service/list_rules.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron::kestrel {

CRelayPage::CRelayPage(SettingsStore& store, AppletHost& host)
    : CSettingsPage(QStringLiteral("外寄郵件"), store, host) {
  // An empty DNS server is filled with the system's own, at once.
  if (store_.ReadText(kSettingsKey, "DNSServer", "").empty()) {
    std::string found = DetectNameServer(host_.NameServers());
    if (!found.empty()) store_.WriteText(kSettingsKey, "DNSServer", found.c_str());
  }

  auto* layout = new QVBoxLayout(this);
  relay_ = SwitchField("RelayMessages", QStringLiteral("允取傳遞外寄郵件"));
  layout->addWidget(relay_);

  auto* grid = new QGridLayout;
  int row = 0;
  auto add = [&](QWidget* field, const QString& label, const QString& hint = QString()) {
    QLabel* l = LabelFor(field, label);
    grid->addWidget(l, row, 0);
    grid->addWidget(field, row, 1);
    relay_fields_.insert(relay_fields_.end(), {l, field});
    if (!hint.isEmpty()) {
      auto* h = new QLabel(hint, this);
      grid->addWidget(h, row, 2);
      relay_fields_.push_back(h);
    }
    ++row;
  };
  add(TextField("HostName"), QStringLiteral("主機名稱："));
  QLineEdit* dns = TextField("DNSServer");
  dns_server_ = ToStore(dns->text().trimmed());
  add(dns, QStringLiteral("DNS 伺服器："));
  dns_test_ = new QPushButton(QStringLiteral("查詢測試"), this);
  grid->addWidget(dns_test_, row - 1, 2);
  relay_fields_.push_back(dns_test_);
  add(NumberField("MaxRecipients"), QStringLiteral("收件人數限制："),
      QStringLiteral("(0 = 不限制)"));
  add(NumberField("RelayTimeout"), QStringLiteral("連線逾時："),
      QStringLiteral("等待回應時間限制 (秒)"));
  add(NumberField("RetryTimes"), QStringLiteral("重試次數："),
      QStringLiteral("對方伺服器暫時性錯誤重寄次數"));
  add(NumberField("RetryTimeout"), QStringLiteral("過期郵件時效："),
      QStringLiteral("過期郵件將不再傳遞 (小時)"));
  layout->addLayout(grid);
  for (auto [name, text] : {std::pair{"DomainAsHost", "DNS查詢錯誤時，以網域名稱替代主機名稱"},
                            std::pair{"AuthRemote", "寄送外部郵件需要驗證(建議)"},
                            std::pair{"AuthLocal", "內部寄送內部需要驗證"},
                            std::pair{"AuthForward", "轉寄外部信箱需要驗證"}}) {
    QCheckBox* box = SwitchField(name, QString::fromUtf8(text));
    layout->addWidget(box);
    relay_fields_.push_back(box);
  }

  // The copy account is written the moment it is chosen.
  cc_account_ = new QComboBox(this);
  cc_account_->addItem(Ui(kNoCcAccount));
  for (const std::string& name : StoredAccountNames(store_)) cc_account_->addItem(FromStore(name));
  int at =
      cc_account_->findText(FromStore(store_.ReadText(kSettingsKey, "CcAccount", B5(kNoCcAccount))),
                            Qt::MatchFixedString);
  cc_account_->setCurrentIndex(at < 0 ? 0 : at);
  auto* cc_row = new QGridLayout;
  cc_row->addWidget(LabelFor(cc_account_, QStringLiteral("請選擇寄件複本收件人帳號：")), 0, 0);
  cc_row->addWidget(cc_account_, 0, 1);
  layout->addLayout(cc_row);

  auto* mx_group = new QGroupBox(QStringLiteral("預先定義 DNS 紀錄"), this);
  auto* mg = new QVBoxLayout(mx_group);
  auto* mx_note = new QLabel(
      QStringLiteral("您可以事先指定特定網域名稱所對應的郵件主機，而不需再經過 MX 記錄查詢。"),
      this);
  mx_note->setWordWrap(true);
  mg->addWidget(mx_note);
  mx_records_ = new CStoredList(
      this, store_, host_,
      CStoredList::FieldsSetup(
          "MxRecords", QStringLiteral("預先定義 DNS 紀錄"),
          {QStringLiteral("網 域 名 稱        "), QStringLiteral("預 查 郵 件 主 機 位 址")},
          QStringLiteral("新增 DNS 紀錄"),
          {QStringLiteral("網域名稱："), QStringLiteral("郵件主機：")},
          QStringLiteral("新增 DNS 紀錄"), QStringLiteral("編輯 DNS 紀錄"),
          {QStringLiteral("新增"), QStringLiteral("編輯"), QStringLiteral("移除")}));
  mg->addWidget(mx_records_);
  layout->addWidget(mx_group, 1);

  connect(relay_, &QCheckBox::toggled, this, &CRelayPage::OnRelaySwitch);
  connect(dns_test_, &QPushButton::clicked, this, &CRelayPage::OnDnsTest);
  connect(cc_account_, &QComboBox::activated, this, &CRelayPage::OnCcAccount);
  connect(mx_records_, &CStoredList::changed, this, [this] { SetModified(); });
  ApplySwitch(false);
}

CRelayPage::~CRelayPage() {
  cancel_ = true;
  if (lookup_.joinable()) lookup_.join();
}

void CRelayPage::showEvent(QShowEvent* event) {
  CSettingsPage::showEvent(event);
  if (warned_) return;
  warned_ = true;
  ApplySwitch(true);
}

void CRelayPage::OnRelaySwitch() { ApplySwitch(true); }

void CRelayPage::ApplySwitch(bool warn) {
  bool on = relay_->isChecked();
  for (QWidget* w : relay_fields_) w->setEnabled(on);
  if (warn && on) {
    std::string name = FieldText("HostName");
    if (name == host_.ComputerName()) {
      host_.Message(this, QStringLiteral("郵件主機設定值"),
                    Ui(HostNameWarning(FromStore(name).toStdString())), BoxIcon::kExclamation);
    }
  }
}

void CRelayPage::TookFields() { dns_server_ = FieldText("DNSServer"); }

void CRelayPage::OnCcAccount(int index) {
  std::string text = ToStore(cc_account_->itemText(index));
  store_.WriteText(kSettingsKey, "CcAccount", text.c_str());
  SetModified();
}

void CRelayPage::OnDnsTest() {
  if (lookup_running_) return;
  CFieldsDialog dialog(this, QStringLiteral("查詢 MX 紀錄"), {QString()},
                       QStringLiteral("請輸入任一有效的郵件帳號，測試您所使用的 DNS "
                                      "伺服器是否能取得相對之郵件主機位址。"));
  if (!host_.RunDialog(dialog)) return;
  std::string domain = DnsTestDomain(ToStore(dialog.Value(0)));
  std::string server = dns_server_;
  if (lookup_.joinable()) lookup_.join();
  lookup_running_ = true;
  dns_test_->setEnabled(false);
  setCursor(Qt::BusyCursor);
  // The lookup waits on a thread of its own, so the sheet stays responsive;
  // the page waits for it (briefly, it is cancelled) when it closes.
  QPointer<CRelayPage> self(this);
  lookup_ = std::thread([this, self, server, domain] {
    MxAnswer answer = host_.LookupMx(server, domain, &cancel_);
    QMetaObject::invokeMethod(
        qApp,
        [self, answer] {
          if (self) self->ShowAnswer(answer);
        },
        Qt::QueuedConnection);
  });
}

void CRelayPage::ShowAnswer(const MxAnswer& answer) {
  lookup_running_ = false;
  dns_test_->setEnabled(relay_->isChecked());
  unsetCursor();
  if (!answer.ok) {
    host_.Message(this, AppletName(), FromStore(answer.error), BoxIcon::kExclamation);
  }
  for (const std::string& entry : answer.entries) {
    host_.Message(this, AppletName(), FromStore(entry), BoxIcon::kInformation);
  }
}

}  // namespace heron::kestrel
