// The dialogs of the list pages that are more than labelled fields: an
// account, a copy rule and an address range.
#pragma once

#include <QDialog>
#include <QStringList>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace heron::kestrel {

class AppletHost;

class CAddUserDlg : public QDialog {
  Q_OBJECT
 public:
  CAddUserDlg(QWidget* parent, AppletHost& host);
  // Fills the fields; the name cannot be changed for the default account.
  void Set(const QString& name, const QString& password, const QString& full_name,
           bool no_external_mail);
  QString name() const;
  QString password() const;
  QString full_name() const;
  bool no_external_mail() const;
  QLineEdit* name_field() const { return name_; }
  QLineEdit* password_field() const { return password_; }
  QLineEdit* full_name_field() const { return full_name_; }
  QCheckBox* no_external_mail_box() const { return no_external_; }

  // Stays open for an empty name or one that cannot be a mailbox folder.
  void accept() override;

 private:
  AppletHost& host_;
  QLineEdit *name_, *password_, *full_name_;
  QCheckBox* no_external_;
};

class CAddCopyRuleDlg : public QDialog {
  Q_OBJECT
 public:
  CAddCopyRuleDlg(QWidget* parent, AppletHost& host, const QStringList& accounts);
  // Preselects the two accounts (the first entry when one is not offered).
  void Select(const QString& recipient, const QString& copy);
  QComboBox* recipient_box() const { return recipient_; }
  QComboBox* copy_box() const { return copy_; }

  // Stays open while both name the same account.
  void accept() override;

 private:
  AppletHost& host_;
  QComboBox *recipient_, *copy_;
};

class CAddIPDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAddIPDlg(QWidget* parent);
  // Range mode is on when `last` is given and differs from `first`.
  void Set(const QString& first, const QString& last);
  QString first() const;
  // Empty outside range mode.
  QString last() const;
  bool range() const;
  QLineEdit* octet(int index) const { return octets_[index]; }  // 0-3 first, 4-7 last
  QCheckBox* range_box() const { return range_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowRange(bool on);
  std::array<QLineEdit*, 8> octets_;
  QCheckBox* range_;
  QWidget* last_row_;
};

}  // namespace heron::kestrel
