#include "applet/settings_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <cstdlib>

#include "applet/applet_host.h"
#include "applet/applet_rules.h"
#include "applet/store_text.h"
#include "service/settings.h"
#include "service/settings_store.h"

namespace heron::kestrel {

QString AppletName() { return QStringLiteral("Heron Mail Server"); }

CSettingsPage::CSettingsPage(const QString& caption, SettingsStore& store, AppletHost& host)
    : CPropertyPage(caption), store_(store), host_(host) {}

const ScalarSetting& CSettingsPage::Setting(const char* name) {
  const ScalarSetting* s = FindScalarSetting(name);
  Q_ASSERT(s);
  return *s;
}

const CSettingsPage::Field* CSettingsPage::Find(const char* name) const {
  for (const Field& f : fields_) {
    if (EqualsNoCase(f.setting->name, name)) return &f;
  }
  return nullptr;
}

void CSettingsPage::Watch(QObject* widget) {
  auto mark = [this] { SetModified(); };
  if (auto* e = qobject_cast<QLineEdit*>(widget)) connect(e, &QLineEdit::textChanged, this, mark);
  if (auto* s = qobject_cast<QSpinBox*>(widget)) connect(s, &QSpinBox::valueChanged, this, mark);
  if (auto* c = qobject_cast<QCheckBox*>(widget)) connect(c, &QCheckBox::toggled, this, mark);
  if (auto* c = qobject_cast<QComboBox*>(widget)) {
    connect(c, &QComboBox::currentIndexChanged, this, mark);
  }
  if (auto* g = qobject_cast<QButtonGroup*>(widget))
    connect(g, &QButtonGroup::idToggled, this, mark);
}

QLineEdit* CSettingsPage::NumberField(const char* name) {
  const ScalarSetting& s = Setting(name);
  auto* edit = new QLineEdit(QString::number(ReadNumberSetting(store_, s)), this);
  fields_.push_back({&s, edit});
  Watch(edit);
  return edit;
}

QLineEdit* CSettingsPage::TextField(const char* name) {
  const ScalarSetting& s = Setting(name);
  auto* edit =
      new QLineEdit(FromStore(store_.ReadText(kSettingsKey, s.name, AppletTextDefault(s))), this);
  fields_.push_back({&s, edit});
  Watch(edit);
  return edit;
}

QSpinBox* CSettingsPage::SpinField(const char* name) {
  const ScalarSetting& s = Setting(name);
  auto* spin = new QSpinBox(this);
  spin->setRange(s.min, s.max);
  spin->setGroupSeparatorShown(false);
  spin->setValue(ReadNumberSetting(store_, s));
  fields_.push_back({&s, spin});
  Watch(spin);
  return spin;
}

QCheckBox* CSettingsPage::SwitchField(const char* name, const QString& text) {
  const ScalarSetting& s = Setting(name);
  auto* box = new QCheckBox(text, this);
  box->setChecked(ReadNumberSetting(store_, s) != 0);
  fields_.push_back({&s, box});
  Watch(box);
  return box;
}

QComboBox* CSettingsPage::ChoiceField(const char* name, const QStringList& items) {
  const ScalarSetting& s = Setting(name);
  auto* combo = new QComboBox(this);
  combo->addItems(items);
  int value = ReadNumberSetting(store_, s);
  combo->setCurrentIndex(value >= 0 && value < items.size() ? value : -1);
  fields_.push_back({&s, combo});
  Watch(combo);
  return combo;
}

std::vector<QRadioButton*> CSettingsPage::RadioField(const char* name, const QStringList& texts) {
  const ScalarSetting& s = Setting(name);
  auto* group = new QButtonGroup(this);
  std::vector<QRadioButton*> buttons;
  int value = ReadNumberSetting(store_, s);
  for (int i = 0; i < texts.size(); ++i) {
    auto* b = new QRadioButton(texts[i], this);
    group->addButton(b, i);
    b->setChecked(i == value);
    buttons.push_back(b);
  }
  fields_.push_back({&s, group});
  Watch(group);
  return buttons;
}

QLabel* BuddyLabel(QWidget* parent, QWidget* field, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  field->setAccessibleName(text);
  return label;
}

std::string CSettingsPage::FieldText(const char* name) const {
  const Field* f = Find(name);
  if (!f) return {};
  if (auto* e = qobject_cast<QLineEdit*>(f->widget)) return ToStore(e->text().trimmed());
  return {};
}

namespace {

bool ParseInteger(const QString& text, const ScalarSetting& s, int32_t& value) {
  bool ok = false;
  qlonglong v = text.trimmed().toLongLong(&ok);
  if (!ok || v < s.min || v > s.max) return false;
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

bool CSettingsPage::OnKillActive() {
  for (const Field& f : fields_) {
    auto* edit = qobject_cast<QLineEdit*>(f.widget);
    if (!edit || !edit->isEnabled()) continue;
    std::string problem;
    int32_t value;
    if (f.setting->kind == ScalarSetting::Kind::kNumber) {
      if (!ParseInteger(edit->text(), *f.setting, value)) problem = RangeMessage(*f.setting);
    } else {
      problem = TextFieldProblem(*f.setting, edit->text().trimmed().toStdString());
    }
    if (!problem.empty()) {
      host_.Message(this, AppletName(), Ui(problem), BoxIcon::kExclamation);
      edit->setFocus();
      edit->selectAll();
      return false;
    }
  }
  TookFields();
  return true;
}

void CSettingsPage::OnOK() {
  for (const Field& f : fields_) {
    const char* name = f.setting->name;
    int32_t value = 0;
    if (auto* edit = qobject_cast<QLineEdit*>(f.widget)) {
      if (f.setting->kind == ScalarSetting::Kind::kText) {
        std::string text = ToStore(edit->text().trimmed());
        store_.WriteText(kSettingsKey, name, text.c_str());
        continue;
      }
      if (!ParseInteger(edit->text(), *f.setting, value)) continue;
    } else if (auto* spin = qobject_cast<QSpinBox*>(f.widget)) {
      value = spin->value();
    } else if (auto* box = qobject_cast<QCheckBox*>(f.widget)) {
      value = box->isChecked() ? 1 : 0;
    } else if (auto* combo = qobject_cast<QComboBox*>(f.widget)) {
      if (combo->currentIndex() < 0) continue;
      value = combo->currentIndex();
    } else if (auto* group = qobject_cast<QButtonGroup*>(f.widget)) {
      if (group->checkedId() < 0) continue;
      value = group->checkedId();
    }
    store_.WriteNumber(kSettingsKey, name, value);
  }
}

}  // namespace heron::kestrel
