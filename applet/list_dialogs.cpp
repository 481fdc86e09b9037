#include "applet/list_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QVBoxLayout>

#include "applet/applet_host.h"
#include "applet/settings_page.h"
#include "applet/store_text.h"
#include "service/accounts.h"
#include "service/mailbox_folder.h"

namespace heron::kestrel {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// Passwords show as "*", whatever the style would draw.
class StarPasswords : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

}  // namespace

CAddUserDlg::CAddUserDlg(QWidget* parent, AppletHost& host) : QDialog(parent), host_(host) {
  setWindowTitle(QStringLiteral("新增郵件帳號"));
  name_ = new QLineEdit(this);
  password_ = new QLineEdit(this);
  auto* stars = new StarPasswords;
  stars->setParent(password_);
  password_->setStyle(stars);
  password_->setEchoMode(QLineEdit::Password);
  password_->setTextMargins(3, 3, 3, 3);
  full_name_ = new QLineEdit(this);
  no_external_ = new QCheckBox(QStringLiteral("禁止寄送外部郵件"), this);
  auto* grid = new QGridLayout;
  grid->addWidget(BuddyLabel(this, name_, QStringLiteral("帳號：")), 0, 0);
  grid->addWidget(name_, 0, 1);
  grid->addWidget(BuddyLabel(this, password_, QStringLiteral("密碼：")), 1, 0);
  grid->addWidget(password_, 1, 1);
  grid->addWidget(BuddyLabel(this, full_name_, QStringLiteral("全名：")), 2, 0);
  grid->addWidget(full_name_, 2, 1);
  grid->addWidget(no_external_, 3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(this));
  name_->setMinimumWidth(240);
}

void CAddUserDlg::Set(const QString& name, const QString& password, const QString& full_name,
                      bool no_external_mail) {
  name_->setText(name);
  password_->setText(password);
  full_name_->setText(full_name);
  no_external_->setChecked(no_external_mail);
  name_->setEnabled(!IsDefaultAccount(ToStore(name)));
}

QString CAddUserDlg::name() const { return name_->text().trimmed(); }
QString CAddUserDlg::password() const { return password_->text(); }
QString CAddUserDlg::full_name() const { return full_name_->text(); }
bool CAddUserDlg::no_external_mail() const { return no_external_->isChecked(); }

void CAddUserDlg::accept() {
  name_->setText(name());
  if (name().isEmpty()) {
    name_->setFocus();
    return;
  }
  // The name is also the mailbox folder's: the service must be able to use
  // it, and it must never lead out of the mail root.
  std::string stored = ToStore(name());
  if (!IsMailboxName(stored) || FromStore(stored) != name()) {
    host_.Message(this, QStringLiteral("帳號名稱"),
                  QStringLiteral("帳號名稱不可含有 / 或控制字元、不可以 . 開頭，"
                                 "也不可與系統資料夾同名！"),
                  BoxIcon::kExclamation);
    name_->setFocus();
    return;
  }
  QDialog::accept();
}

CAddCopyRuleDlg::CAddCopyRuleDlg(QWidget* parent, AppletHost& host, const QStringList& accounts)
    : QDialog(parent), host_(host) {
  setWindowTitle(QStringLiteral("新增收件複本"));
  recipient_ = new QComboBox(this);
  copy_ = new QComboBox(this);
  recipient_->addItems(accounts);
  copy_->addItems(accounts);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("請選擇收件人與複本寄送者帳號："), this));
  auto* grid = new QGridLayout;
  grid->addWidget(BuddyLabel(this, recipient_, QStringLiteral("收件人：")), 0, 0);
  grid->addWidget(recipient_, 0, 1);
  grid->addWidget(BuddyLabel(this, copy_, QStringLiteral("複本寄送：")), 1, 0);
  grid->addWidget(copy_, 1, 1);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(this));
}

void CAddCopyRuleDlg::Select(const QString& recipient, const QString& copy) {
  auto pick = [](QComboBox* box, const QString& text) {
    int at = box->findText(text, Qt::MatchFixedString);
    box->setCurrentIndex(at < 0 ? 0 : at);
  };
  pick(recipient_, recipient);
  pick(copy_, copy);
}

void CAddCopyRuleDlg::accept() {
  if (recipient_->currentText().compare(copy_->currentText(), Qt::CaseInsensitive) == 0) {
    host_.Message(this, AppletName(), QStringLiteral("複本收件者不可與原收件者相同"),
                  BoxIcon::kExclamation);
    return;
  }
  QDialog::accept();
}

CAddIPDlg::CAddIPDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("新增 IP 位址"));
  auto* layout = new QVBoxLayout(this);
  auto row = [&](QWidget* owner, int first, const QString& label) {
    auto* line = new QHBoxLayout(owner);
    line->setContentsMargins(0, 0, 0, 0);
    auto* l = new QLabel(label, owner);
    line->addWidget(l);
    for (int i = first; i < first + 4; ++i) {
      auto* octet = new QLineEdit(owner);
      octet->setMaxLength(3);
      octet->setFixedWidth(48);
      octet->setAccessibleName(QStringLiteral("%1 %2").arg(label).arg(i - first + 1));
      octet->installEventFilter(this);
      if (i == first) l->setBuddy(octet);
      line->addWidget(octet);
      if (i < first + 3) line->addWidget(new QLabel(QStringLiteral("."), owner));
      octets_[i] = octet;
    }
    line->addStretch();
  };
  auto* first_row = new QWidget(this);
  row(first_row, 0, QStringLiteral("IP 位址："));
  layout->addWidget(first_row);
  range_ = new QCheckBox(QStringLiteral("設定 IP 範圍"), this);
  layout->addWidget(range_);
  last_row_ = new QWidget(this);
  row(last_row_, 4, QStringLiteral("IP 範圍終點："));
  layout->addWidget(last_row_);
  layout->addWidget(OkCancel(this));
  connect(range_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) {
      for (int i = 0; i < 4; ++i) octets_[i + 4]->setText(octets_[i]->text());
    }
    ShowRange(on);
  });
  ShowRange(false);
}

void CAddIPDlg::ShowRange(bool on) {
  last_row_->setVisible(on);
  adjustSize();
}

void CAddIPDlg::Set(const QString& first, const QString& last) {
  QStringList a = first.split('.'), b = last.split('.');
  for (int i = 0; i < 4; ++i) {
    octets_[i]->setText(a.value(i));
    octets_[i + 4]->setText(b.value(i));
  }
  bool on = !last.isEmpty() && last != first;
  range_->blockSignals(true);
  range_->setChecked(on);
  range_->blockSignals(false);
  ShowRange(on);
}

QString CAddIPDlg::first() const {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(octets_[0]->text(), octets_[1]->text(), octets_[2]->text(), octets_[3]->text());
}

QString CAddIPDlg::last() const {
  if (!range()) return {};
  return QStringLiteral("%1.%2.%3.%4")
      .arg(octets_[4]->text(), octets_[5]->text(), octets_[6]->text(), octets_[7]->text());
}

bool CAddIPDlg::range() const { return range_->isChecked(); }

bool CAddIPDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    QString text = key->text();
    // Digits, "*", "." and backspace and tab are typed; every other
    // character is swallowed (Enter and Escape still end the dialog). Keys
    // without a character (arrows, Delete) act as usual.
    if (!text.isEmpty()) {
      char16_t c = text[0].unicode();
      bool typed = (c >= u'0' && c <= u'9') || c == u'*' || c == u'.' || c == u'\b' || c == u'\t' ||
                   c == u'\r' || c == 0x1b || c == 0x7f;
      if (!typed) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace heron::kestrel
