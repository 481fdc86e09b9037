// A page whose fields edit scalar settings of the store: each field is bound
// to its row of the settings table, read when the page is made, checked when
// the page is left or applied, and written by OnOK.
#pragma once

#include <QString>
#include <vector>

#include "applet/property_sheet.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace heron {
class SettingsStore;
struct ScalarSetting;
}  // namespace heron

namespace heron::kestrel {

class AppletHost;

// The caption of the applet's own message boxes.
QString AppletName();
// A label of `parent` for a field: the field is its buddy and carries its
// text as its accessible name, so the field is found by its label.
QLabel* BuddyLabel(QWidget* parent, QWidget* field, const QString& text);

class CSettingsPage : public CPropertyPage {
  Q_OBJECT
 public:
  CSettingsPage(const QString& caption, SettingsStore& store, AppletHost& host);
  bool OnKillActive() override;
  void OnOK() override;

 protected:
  QLineEdit* NumberField(const char* name);
  QLineEdit* TextField(const char* name);
  QSpinBox* SpinField(const char* name);
  QCheckBox* SwitchField(const char* name, const QString& text);
  QComboBox* ChoiceField(const char* name, const QStringList& items);
  // One button per value, 0 upwards.
  std::vector<QRadioButton*> RadioField(const char* name, const QStringList& texts);
  QLabel* LabelFor(QWidget* field, const QString& text) { return BuddyLabel(this, field, text); }
  // The setting's value as the page shows it now (Big5 for texts).
  std::string FieldText(const char* name) const;
  // Called after the fields passed their checks (the page takes them).
  virtual void TookFields() {}

  SettingsStore& store_;
  AppletHost& host_;

 private:
  struct Field {
    const ScalarSetting* setting;
    QObject* widget;
  };
  const ScalarSetting& Setting(const char* name);
  const Field* Find(const char* name) const;
  void Watch(QObject* widget);
  std::vector<Field> fields_;
};

}  // namespace heron::kestrel
