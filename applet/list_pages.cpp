#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstring>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/list_dialogs.h"
#include "applet/list_view.h"
#include "applet/pages.h"
#include "applet/store_text.h"
#include "service/list_rules.h"
#include "service/mail_folders.h"
#include "service/mailbox_folder.h"
#include "service/service_names.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron::kestrel {

namespace {

const QStringList kPlainButtons = {QStringLiteral("新增"), QStringLiteral("編輯"),
                                   QStringLiteral("移除")};

CStoredList::Setup OneColumn(const char* list, const QString& caption, const QString& column,
                             const QString& dialog, const QString& label, const QString& add,
                             const QString& edit) {
  return CStoredList::FieldsSetup(list, caption, {column}, dialog, {label}, add, edit,
                                  kPlainButtons);
}

QGroupBox* Group(QWidget* parent, const QString& caption, QWidget* content) {
  auto* group = new QGroupBox(caption, parent);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(content);
  return group;
}

}  // namespace

// --- Domains -------------------------------------------------------------

CDomainsPage::CDomainsPage(SettingsStore& store, AppletHost& host)
    : CPropertyPage(QStringLiteral("網域名稱")), store_(store), host_(host) {
  CStoredList::Setup setup =
      OneColumn("Domains", QStringLiteral("網 域 名 稱"), QStringLiteral("網 域 名 稱"),
                QStringLiteral("新增網域"), QStringLiteral("網域名稱："),
                QStringLiteral("新增網域名稱"), QStringLiteral("編輯網域名稱"));
  setup.button_texts = {QStringLiteral("新增(&A)..."), QStringLiteral("編輯(&E)..."),
                        QStringLiteral("移除(&R)")};
  domains_ = new CStoredList(this, store_, host_, setup);
  auto* test = new QPushButton(QStringLiteral("DNS 測試"), this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(domains_, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(test);
  layout->addLayout(row);
  connect(test, &QPushButton::clicked, this, &CDomainsPage::OnDnsTest);
  connect(domains_, &CStoredList::changed, this, [this] { SetModified(); });
}

void CDomainsPage::OnDnsTest() {
  int row = domains_->SelectedRow();
  if (row < 0) {
    host_.Message(this, QStringLiteral("DNS 測試"), QStringLiteral("請選取網域名稱..."),
                  BoxIcon::kExclamation);
    return;
  }
  // The tool stands beside the service program.
  std::string program = "skylark";
  if (auto service = host_.ServiceProgram(kServiceName)) {
    program = service->substr(0, service->rfind('/') + 1) + "skylark";
  }
  std::string target = "/H:" + domains_->view()->topLevelItem(row)->text(0).toStdString();
  std::string server = store_.ReadText(kSettingsKey, "DNSServer", "");
  if (server.empty()) server = DetectNameServer(host_.NameServers());
  if (!server.empty()) target.append(",").append(server);
  host_.RunProgram(program, {target});
}

// --- Accounts ------------------------------------------------------------

CUserAccountPage::CUserAccountPage(SettingsStore& store, AppletHost& host)
    : CPropertyPage(QStringLiteral("郵件帳號")), store_(store), host_(host) {
  accounts_ = std::make_unique<AccountStore>(store_, [this] { return ReadMailFolder(store_); });
  view_ = new QTreeWidget(this);
  view_->setRootIsDecorated(false);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setHeaderLabels({QStringLiteral("郵件帳號"), QStringLiteral("全名 / 帳號資料"),
                          QStringLiteral("禁止寄送外部郵件")});
  view_->setAccessibleName(QStringLiteral("郵件帳號"));
  auto* add = new QPushButton(QStringLiteral("新增"), this);
  auto* edit = new QPushButton(QStringLiteral("編輯"), this);
  auto* remove = new QPushButton(QStringLiteral("移除"), this);
  auto* refresh = new QPushButton(QStringLiteral("重整"), this);
  catch_all_ = new QComboBox(this);
  QLabel* catch_label = BuddyLabel(this, catch_all_, QStringLiteral("無此帳號之信件轉給："));

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {add, edit, remove, refresh}) buttons->addWidget(b);
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(view_, 1);
  top->addLayout(buttons);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(catch_label);
  bottom->addWidget(catch_all_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(bottom);

  connect(add, &QPushButton::clicked, this, &CUserAccountPage::OnAdd);
  connect(edit, &QPushButton::clicked, this, &CUserAccountPage::OnEdit);
  connect(view_, &QTreeWidget::itemDoubleClicked, this, &CUserAccountPage::OnEdit);
  connect(remove, &QPushButton::clicked, this, &CUserAccountPage::OnRemove);
  connect(refresh, &QPushButton::clicked, this, &CUserAccountPage::OnRefresh);
  connect(catch_all_, &QComboBox::activated, this, &CUserAccountPage::OnCatchAll);
}

void CUserAccountPage::showEvent(QShowEvent* event) {
  CPropertyPage::showEvent(event);
  EnsureLoaded();
}

void CUserAccountPage::EnsureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  // No stored list: the default account is made and stored at once.
  if (!store_.ReadBytes("UserAccounts", "Users")) {
    accounts_->Replace({{"admin", B5("預設帳號"), "", 0}});
  }
  accounts_->Load();
  rows_ = accounts_->accounts();
  Fill();
  for (int c = 0; c < 3; ++c) view_->resizeColumnToContents(c);
}

void CUserAccountPage::Fill() {
  // The catch-all choice offers the accounts as they are now.
  QString chosen =
      catch_all_->count() > 0
          ? catch_all_->currentText()
          : FromStore(store_.ReadText(kSettingsKey, "CatchAllAccount", B5(kCatchAllOff)));
  catch_all_->clear();
  catch_all_->addItem(Ui(kCatchAllOff));
  for (const CUserAccount& a : rows_) catch_all_->addItem(FromStore(a.name));
  int at = catch_all_->findText(chosen, Qt::MatchFixedString);
  catch_all_->setCurrentIndex(at < 0 ? 0 : at);
  view_->clear();
  for (const CUserAccount& a : rows_) {
    view_->addTopLevelItem(
        new QTreeWidgetItem({FromStore(a.name), FromStore(a.full_name),
                             a.no_external_mail ? QStringLiteral("- - - X - - -") : QString()}));
  }
}

int CUserAccountPage::SelectedRow() const {
  QList<QTreeWidgetItem*> selected = view_->selectedItems();
  return selected.isEmpty() ? -1 : view_->indexOfTopLevelItem(selected.first());
}

std::string CUserAccountPage::MailRootNow() { return MailRoot(ReadMailFolder(store_)); }

bool CUserAccountPage::StoreRows() {
  if (accounts_->Replace(rows_)) return true;
  host_.Message(this, QStringLiteral("郵件帳號"),
                QStringLiteral("帳號清單已達系統可儲存的上限，這項變更未儲存！"), BoxIcon::kStop);
  return false;
}

void CUserAccountPage::OnAdd() {
  EnsureLoaded();
  CAddUserDlg dialog(this, host_);
  if (!host_.RunDialog(dialog)) return;
  std::string name = ToStore(dialog.name());
  for (const CUserAccount& a : rows_) {
    if (EqualsNoCase(a.name, name)) {
      host_.Message(this, QStringLiteral("帳號重複"),
                    QStringLiteral("帳號 %1 已存在！").arg(dialog.name()), BoxIcon::kExclamation);
      return;
    }
  }
  rows_.insert(rows_.begin(), {name, ToStore(dialog.full_name()), ToStore(dialog.password()),
                               dialog.no_external_mail() ? 1 : 0});
  if (!StoreRows()) {
    rows_.erase(rows_.begin());
    return;
  }
  EnsureMailbox(MailRootNow(), name);
  Fill();
  view_->setCurrentItem(view_->topLevelItem(0));
  SetModified();
}

void CUserAccountPage::OnEdit() {
  EnsureLoaded();
  int row = SelectedRow();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  CUserAccount& a = rows_[row];
  CAddUserDlg dialog(this, host_);
  dialog.setWindowTitle(QStringLiteral("編輯郵件帳號"));
  dialog.Set(FromStore(a.name), FromStore(a.password), FromStore(a.full_name),
             a.no_external_mail != 0);
  if (!host_.RunDialog(dialog)) return;
  std::string name = ToStore(dialog.name());
  // The first row whose name begins with the new one decides; and no edit
  // may give two accounts one name.
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (i != row && EqualsNoCase(rows_[i].name, name)) return;
  }
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    const std::string& other = rows_[i].name;
    if (other.size() >= name.size() && EqualsNoCase(other.substr(0, name.size()), name)) {
      if (i != row) return;
      break;
    }
  }
  CUserAccount before = a;
  a = {name, ToStore(dialog.full_name()), ToStore(dialog.password()),
       dialog.no_external_mail() ? 1 : 0};
  if (!StoreRows()) {
    rows_[row] = before;
    return;
  }
  Fill();
  view_->setCurrentItem(view_->topLevelItem(row));
  SetModified();
}

void CUserAccountPage::OnRemove() {
  EnsureLoaded();
  int row = SelectedRow();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  std::string name = rows_[row].name;
  if (IsDefaultAccount(name)) {
    host_.Message(this, QStringLiteral("使用者帳號"), QStringLiteral("系統預設帳號(admin)不可刪除"),
                  BoxIcon::kStop);
    return;
  }
  CUserAccount removed = rows_[row];
  rows_.erase(rows_.begin() + row);
  if (!StoreRows()) {
    rows_.insert(rows_.begin() + row, removed);
    return;
  }
  Fill();
  SetModified();
  if (!host_.AskYesNo(this, QStringLiteral("刪除帳號"),
                      QStringLiteral("這個帳號的所有信件是否一併刪除？"))) {
    return;
  }
  // Only the account's own mailbox folder, found by the service's rules.
  if (int error = DeleteMailbox(MailRootNow(), name)) {
    host_.Message(this, QStringLiteral("刪除帳號"), QString::fromLocal8Bit(std::strerror(error)),
                  BoxIcon::kStop);
  }
}

void CUserAccountPage::OnRefresh() {
  EnsureLoaded();
  rows_ = accounts_->accounts();
  Fill();
}

void CUserAccountPage::OnCatchAll(int index) {
  std::string text = ToStore(catch_all_->itemText(index));
  store_.WriteText(kSettingsKey, "CatchAllAccount", text.c_str());
  SetModified();
}

// --- Forwarding and copy rules -------------------------------------------

CForwardRulesPage::CForwardRulesPage(SettingsStore& store, AppletHost& host)
    : CPropertyPage(QStringLiteral("轉寄、副本")) {
  CStoredList::Setup forward = CStoredList::FieldsSetup(
      "ForwardRules", QStringLiteral("轉寄規則"),
      {QStringLiteral("原 收 件 人 郵 件 地 址          "), QStringLiteral("轉 寄 到")},
      QStringLiteral("新增轉寄規則"), {QStringLiteral("收件人："), QStringLiteral("轉寄到：")},
      QStringLiteral("新增轉寄規則"), QStringLiteral("編輯轉寄規則"), kPlainButtons);
  forward.dialog_text = QStringLiteral("請輸入完整郵件地址：");
  forward.refuse = [this, &host](int check, const std::string& entry, bool editing) {
    size_t bar = entry.find('|');
    QString recipient = FromStore(entry.substr(0, bar));
    QString target = bar == std::string::npos ? QString() : FromStore(entry.substr(bar + 1));
    auto c = static_cast<ListCheck>(check);
    QString text;
    if (c == ListCheck::kMutualForward) {
      text =
          (editing ? QStringLiteral("無效設定！\r\n\r\n%1 已設定轉址到 %2！\r\n\r\n不可相互轉寄！")
                   : QStringLiteral("無效設定！%1 已設定轉址到 %2！\r\n\r\n不可相互轉寄！"))
              .arg(target, recipient);
      host.Message(this, QStringLiteral("無效設定--相互轉寄"), text, BoxIcon::kExclamation);
      return;
    }
    text = c == ListCheck::kToItself
               ? QStringLiteral("無效設定！%1 不可轉寄給自己！").arg(recipient)
           : c == ListCheck::kTooLong ? QStringLiteral("清單已達系統可讀取的長度上限，無法再新增！")
                                      : QStringLiteral("收件人與轉寄到都必須填寫！");
    host.Message(this, AppletName(), text, BoxIcon::kExclamation);
  };
  forward_ = new CStoredList(this, store, host, forward);

  CStoredList::Setup copy = CStoredList::FieldsSetup(
      "CopyRules", QStringLiteral("收件副本"),
      {QStringLiteral("原 收 件 人 帳 號          "), QStringLiteral("寄 送 複 本 到")},
      QStringLiteral("新增收件複本"), {}, QStringLiteral("新增收件副本"),
      QStringLiteral("編輯收件副本"), kPlainButtons);
  copy.ask = [&store, &host](QWidget* parent, const QString& title, const std::string& start,
                             std::string& entry) {
    QStringList names;
    for (const std::string& n : StoredAccountNames(store)) names << FromStore(n);
    CAddCopyRuleDlg dialog(parent, host, names);
    dialog.setWindowTitle(title);
    size_t bar = start.find('|');
    if (!start.empty()) {
      dialog.Select(FromStore(start.substr(0, bar)),
                    bar == std::string::npos ? QString() : FromStore(start.substr(bar + 1)));
    }
    if (!host.RunDialog(dialog)) return false;
    entry = ToStore(dialog.recipient_box()->currentText());
    entry.append("|").append(ToStore(dialog.copy_box()->currentText()));
    return true;
  };
  copy_ = new CStoredList(this, store, host, copy);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Group(this, QStringLiteral("轉寄規則"), forward_), 1);
  layout->addWidget(Group(this, QStringLiteral("收件副本"), copy_), 1);
  for (CStoredList* l : {forward_, copy_}) {
    connect(l, &CStoredList::changed, this, [this] { SetModified(); });
  }
}

// --- Anti-spam -----------------------------------------------------------

CIpFilterPage::CIpFilterPage(SettingsStore& store, AppletHost& host)
    : CSettingsPage(QStringLiteral("垃圾郵件 "), store, host) {
  auto ip_list = [&](const char* list, const QString& caption) {
    CStoredList::Setup setup = CStoredList::FieldsSetup(
        list, caption, {QStringLiteral("IP 範圍起點"), QStringLiteral("IP 範圍終點")},
        QStringLiteral("新增 IP 位址"), {}, QStringLiteral("新增 IP 位址"),
        QStringLiteral("編輯 IP 位址"), kPlainButtons);
    // Kept as "first last": a single address twice, any other separator
    // read and written as a blank.
    setup.normalize = [](const std::string& e) { return StoredIpEntry(e); };
    setup.columns_of = [](const std::string& e) {
      size_t blank = e.find(' ');
      return QStringList{FromStore(e.substr(0, blank)),
                         blank == std::string::npos ? QString() : FromStore(e.substr(blank + 1))};
    };
    setup.ask = [&host](QWidget* parent, const QString& title, const std::string& start,
                        std::string& entry) {
      CAddIPDlg dialog(parent);
      dialog.setWindowTitle(title);
      size_t blank = start.find(' ');
      if (!start.empty()) {
        dialog.Set(FromStore(start.substr(0, blank)),
                   blank == std::string::npos ? QString() : FromStore(start.substr(blank + 1)));
      }
      if (!host.RunDialog(dialog)) return false;
      QString last = dialog.last().isEmpty() ? dialog.first() : dialog.last();
      entry = ToStore(dialog.first());
      entry.append(" ").append(ToStore(last));
      return true;
    };
    return new CStoredList(this, store_, host_, setup);
  };
  lists_[0] = ip_list("IpFilter", QStringLiteral("自定 IP 黑名單"));
  lists_[1] = ip_list("SafeIp", QStringLiteral("IP 安全名單 ( 排除垃圾郵件檢查 )"));
  lists_[2] =
      new CStoredList(this, store_, host_,
                      OneColumn("BlockMailFrom", QStringLiteral("郵件帳號 / 網域黑名單"),
                                QStringLiteral("郵 件 地 址"), QStringLiteral("新增郵件帳號"),
                                QStringLiteral("郵件帳號："), QStringLiteral("新增郵件位址"),
                                QStringLiteral("編輯郵件位址")));
  lists_[3] = new CStoredList(
      this, store_, host_,
      OneColumn("BlockMailFrom2", QStringLiteral("IP 反查黑名單關鍵字 "),
                QStringLiteral("IP 反 查 紀 錄"), QStringLiteral("新增 IP 反查紀錄"),
                QStringLiteral("IP 反查紀錄"), QStringLiteral("新增 IP 反查紀錄"),
                QStringLiteral("編輯IP反查紀錄")));

  auto* grid = new QGridLayout;
  grid->addWidget(Group(this, QStringLiteral("自定 IP 黑名單"), lists_[0]), 0, 0);
  grid->addWidget(Group(this, QStringLiteral("IP 安全名單 ( 排除垃圾郵件檢查 )"), lists_[1]), 0, 1);
  grid->addWidget(Group(this, QStringLiteral("郵件帳號 / 網域黑名單"), lists_[2]), 1, 0);
  grid->addWidget(Group(this, QStringLiteral("IP 反查黑名單關鍵字 "), lists_[3]), 1, 1);
  for (CStoredList* l : lists_) {
    connect(l, &CStoredList::changed, this, [this] { SetModified(); });
  }

  auto* switches = new QGridLayout;
  switches->addWidget(SwitchField("BlockDynIP", QStringLiteral("過濾浮動 IP 之郵件伺服器")), 0, 0);
  switches->addWidget(SwitchField("BlockDynIP2", QStringLiteral("過濾無 IP 反查紀錄之郵件伺服器")),
                      0, 1);
  switches->addWidget(SwitchField("CheckDNSBL", QStringLiteral("啟用 IP 黑名單資料庫查詢")), 1, 0);
  std::vector<QRadioButton*> modes =
      RadioField("FilterMode", {QStringLiteral("攔截模式：中斷並拒絕垃圾郵件之連線"),
                                QStringLiteral("過濾模式：在主旨加註以下文字")});
  QLineEdit* tag = TextField("SpamTag");
  tag->setAccessibleName(modes[1]->text());
  switches->addWidget(modes[0], 2, 0, 1, 2);
  switches->addWidget(modes[1], 3, 0);
  switches->addWidget(tag, 3, 1);
  QLineEdit* cache = NumberField("IpCacheSize");
  switches->addWidget(LabelFor(cache, QStringLiteral("DNS 反查暫存區 IP 數：")), 4, 0);
  auto* cache_row = new QHBoxLayout;
  cache_row->addWidget(cache);
  cache_row->addWidget(new QLabel(QStringLiteral("( 0 ~ 100 )"), this));
  switches->addLayout(cache_row, 4, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid, 1);
  layout->addLayout(switches);
}

}  // namespace heron::kestrel
