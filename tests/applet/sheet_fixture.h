// The sheet opened on a temporary store with a fake desktop, and the finding
// of its controls by their accessible names, for the sheet's tests.
#pragma once

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "applet/kestrel_app.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/settings_store.h"
#include "tests/applet/fake_host.h"
#include "tests/platform/temp_dir.h"

namespace heron::kestrel::testing {

// Any widget whose accessible name or text is `name`.
template <class W>
W* Find(QWidget* root, const QString& name) {
  for (W* w : root->findChildren<W*>()) {
    if (w->accessibleName() == name) return w;
    if constexpr (std::is_base_of_v<QAbstractButton, W>) {
      if (w->text() == name) return w;
    }
  }
  return nullptr;
}

struct Fixture {
  heron::testing::TempDir home{true};
  Registry reg{home / "registry.db"};
  SettingsStore store{reg};
  FakeHost host;
  std::unique_ptr<CMailPropertySheet> sheet;

  Fixture() {
    host.now.tm_year = 2026 - 1900;
    host.now.tm_mon = 11;
    host.now.tm_mday = 6;
    host.now.tm_hour = 17;
    host.now.tm_min = 5;
    host.now.tm_sec = 9;
  }
  CMailPropertySheet& Open() {
    sheet = std::make_unique<CMailPropertySheet>(store, host);
    sheet->show();
    return *sheet;
  }
  std::optional<RegValue> Value(const char* name) {
    return reg.QueryValue(std::string(kRootKey) + "\\Settings", name);
  }
  void Press(int which) { QTest::mouseClick(sheet->button(which), Qt::LeftButton); }
  QLineEdit* Edit(const QString& label) { return Find<QLineEdit>(sheet.get(), label); }
  void ShowPage(int index) { QVERIFY(sheet->SetActivePage(index)); }
};

inline std::string Text(const std::optional<RegValue>& v) {
  return v ? Big5ToUtf8(std::string(v->data.c_str())) : "<absent>";
}

}  // namespace heron::kestrel::testing
