// The list pages and their dialogs: the duplicate, loop and account rules,
// the address ranges, and what is stored the moment a list changes.
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include "applet/list_dialogs.h"
#include "applet/list_view.h"
#include "applet/pages.h"
#include "platform/files.h"
#include "service/accounts.h"
#include "service/service_names.h"
#include "tests/applet/sheet_fixture.h"

using namespace heron;
using namespace heron::kestrel;
using namespace heron::kestrel::testing;

namespace {

using Fill = std::function<bool(QDialog&)>;

Fill Fields(QStringList values) {
  return [values](QDialog& d) {
    auto& dialog = static_cast<CFieldsDialog&>(d);
    for (int i = 0; i < values.size(); ++i) dialog.SetValue(i, values[i]);
    return true;
  };
}

Fill User(QString name, QString password = "pw") {
  return [=](QDialog& d) {
    auto& dialog = static_cast<CAddUserDlg&>(d);
    dialog.name_field()->setText(name);
    dialog.password_field()->setText(password);
    return true;
  };
}

std::vector<std::string> Stored(Fixture& f, const char* key, const char* value) {
  return f.store.ReadList(key, value).value_or(std::vector<std::string>{});
}

void Select(CStoredList* list, int row) {
  list->view()->setCurrentItem(list->view()->topLevelItem(row));
}

}  // namespace

class KestrelListsTest : public QObject {
  Q_OBJECT

 private slots:
  void domainsDropCaseDuplicatesAndStartTheDiagnosis() {
    Fixture f;
    f.Open();
    CStoredList* domains = f.sheet->domains()->domains();
    f.host.dialogs = {Fields({"Example.com"}), Fields({"EXAMPLE.COM"}), Fields({"other.org"}),
                      Fields({"example.com"})};
    domains->Add();
    domains->Add();
    domains->Add();
    Select(domains, 1);
    domains->Edit();  // would equal row 0: dropped, the edited row counts too
    QVERIFY(f.host.boxes.empty());
    QCOMPARE(Stored(f, "Domains", "Extensions"),
             (std::vector<std::string>{"Example.com", "other.org"}));
    QVERIFY(f.sheet->button(QDialogButtonBox::Apply)->isEnabled());

    domains->view()->setCurrentItem(nullptr);
    f.sheet->domains()->OnDnsTest();
    QCOMPARE(f.host.Texts(), QStringList({"請選取網域名稱..."}));
    QCOMPARE(f.host.boxes[0].caption, QString("DNS 測試"));
    Select(domains, 0);
    f.host.programs[kServiceName] = "/usr/sbin/osprey";
    f.store.WriteText("Settings", "DNSServer", "168.95.1.1");
    f.sheet->domains()->OnDnsTest();
    f.store.WriteText("Settings", "DNSServer", "");
    f.sheet->domains()->OnDnsTest();
    QCOMPARE(f.host.runs, (std::vector<std::string>{"/usr/sbin/skylark /H:Example.com,168.95.1.1",
                                                    "/usr/sbin/skylark /H:Example.com"}));
  }

  void forwardingRulesRefuseLoops() {
    Fixture f;
    f.Open();
    CStoredList* rules = f.sheet->forward_rules()->forward_rules();
    f.host.dialogs = {
        Fields({"a@example.com", "b@example.com"}), Fields({"b@example.com", "a@example.com"}),
        Fields({"A@example.com", "B@example.com"}), Fields({"c@example.com", "c@example.com"})};
    for (int i = 0; i < 4; ++i) rules->Add();
    QCOMPARE(
        f.host.Texts(),
        QStringList({"無效設定！a@example.com 已設定轉址到 b@example.com！\r\n\r\n不可相互轉寄！",
                     "無效設定！c@example.com 不可轉寄給自己！"}));
    QCOMPARE(f.host.boxes[0].caption, QString("無效設定--相互轉寄"));
    QCOMPARE(Stored(f, "ForwardRules", "Rules"),
             std::vector<std::string>{"a@example.com|b@example.com"});

    // An edit that turns a second rule round is refused with the edit text.
    f.host.boxes.clear();
    f.host.dialogs = {Fields({"x@example.com", "y@example.com"}),
                      Fields({"b@example.com", "a@example.com"})};
    rules->Add();
    Select(rules, 1);
    rules->Edit();
    QCOMPARE(f.host.Texts(), QStringList({"無效設定！\r\n\r\na@example.com 已設定轉址到 "
                                          "b@example.com！\r\n\r\n不可相互轉寄！"}));
  }

  void copyRulesOfferTheAccountsAndRefuseTheSameTwice() {
    Fixture f;
    f.store.WriteBytes(
        "UserAccounts", "Users",
        EncodeAccounts({{"admin", "", "", 0}, {"bob", "", "", 0}, {"carol", "", "", 0}}));
    f.Open();
    CStoredList* copies = f.sheet->forward_rules()->copy_rules();
    auto pick = [](QString a, QString b) -> Fill {
      return [=](QDialog& d) {
        auto& dialog = static_cast<CAddCopyRuleDlg&>(d);
        dialog.Select(a, b);
        return true;
      };
    };
    f.host.dialogs = {pick("bob", "BOB"), pick("bob", "carol"), pick("BOB", "Carol")};
    copies->Add();
    QCOMPARE(f.host.Texts(), QStringList({"複本收件者不可與原收件者相同"}));
    QVERIFY(Stored(f, "CopyRules", "Rules").empty());
    copies->Add();
    copies->Add();  // the same pair in other letters: dropped
    QCOMPARE(Stored(f, "CopyRules", "Rules"), std::vector<std::string>{"bob|carol"});
    QCOMPARE(f.host.boxes.size(), size_t(1));
  }

  void addressRangesAreStoredAsFirstAndLast() {
    Fixture f;
    f.store.WriteList("IpFilter", "Addresses", {"10.0.0.1-10.0.0.9"});
    f.Open();
    CStoredList* block = f.sheet->ip_filter()->list(0);
    QCOMPARE(block->view()->topLevelItem(0)->text(0), QString("10.0.0.1"));
    QCOMPARE(block->view()->topLevelItem(0)->text(1), QString("10.0.0.9"));
    auto single = [](QDialog& d) {
      auto& dialog = static_cast<CAddIPDlg&>(d);
      QStringList octets = {"10", "0", "0", "1"};
      for (int i = 0; i < 4; ++i) dialog.octet(i)->setText(octets[i]);
      return true;
    };
    f.host.dialogs = {single, single};
    block->Add();
    block->Add();
    QCOMPARE(Stored(f, "IpFilter", "Addresses"),
             (std::vector<std::string>{"10.0.0.1 10.0.0.9", "10.0.0.1 10.0.0.1"}));
    QCOMPARE(block->view()->topLevelItem(1)->text(1), QString("10.0.0.1"));

    // The octet boxes take digits, "*" and "." only, three at most; the
    // range box copies the first address into the last.
    CAddIPDlg dialog(nullptr);
    dialog.Set("192.168.*.1", "");
    QVERIFY(!dialog.range());
    QTest::keyClicks(dialog.octet(3), "a5-");
    QCOMPARE(dialog.octet(3)->text(), QString("15"));
    QTest::keyClicks(dialog.octet(3), "99");
    QCOMPARE(dialog.octet(3)->text(), QString("159"));
    dialog.range_box()->setChecked(true);
    QCOMPARE(dialog.last(), QString("192.168.*.159"));
    dialog.Set("10.0.0.1", "10.0.0.1");
    QVERIFY(!dialog.range());
    QCOMPARE(dialog.last(), QString());
  }

  void accountsFollowTheAccountRules() {
    Fixture f;
    f.Open();
    QVERIFY(!f.store.ReadBytes("UserAccounts", "Users"));  // until the page opens
    f.ShowPage(4);
    // An empty store gets the default account, stored at once, with its folder.
    auto stored = DecodeAccounts(*f.store.ReadBytes("UserAccounts", "Users"));
    QCOMPARE(stored->size(), size_t(1));
    QCOMPARE((*stored)[0].name, std::string("admin"));
    QCOMPARE(Big5ToUtf8((*stored)[0].full_name), std::string("預設帳號"));
    QVERIFY(FileExists(f.home / "Mailboxes/admin"));

    CUserAccountPage* page = f.sheet->accounts();
    f.host.dialogs = {User("carol"), User("bob"), User("Bob"), User("../x"), User("  ")};
    for (int i = 0; i < 5; ++i) page->OnAdd();
    QCOMPARE(f.host.Texts().at(0), QString("帳號 Bob 已存在！"));
    QCOMPARE(f.host.boxes[0].caption, QString("帳號重複"));
    QCOMPARE(f.host.boxes.size(), size_t(2));  // and the unusable name, in its dialog
    QVERIFY(FileExists(f.home / "Mailboxes/bob"));
    std::vector<std::string> names;
    auto after = DecodeAccounts(*f.store.ReadBytes("UserAccounts", "Users"));
    for (const CUserAccount& a : *after) names.push_back(a.name);
    QCOMPARE(names, (std::vector<std::string>{"admin", "bob", "carol"}));
    // New rows stand at the top until the list is refreshed.
    QCOMPARE(page->view()->topLevelItem(0)->text(0), QString("bob"));

    // Renamed to a prefix of an account that stands earlier: dropped.
    page->OnRefresh();  // admin, bob, carol
    page->view()->setCurrentItem(page->view()->topLevelItem(2));
    f.host.boxes.clear();
    f.host.dialogs = {User("bo")};
    page->OnEdit();
    QCOMPARE(page->view()->topLevelItem(2)->text(0), QString("carol"));
    QVERIFY(f.host.boxes.empty());

    // The default account stays, whatever its letters.
    page->view()->setCurrentItem(page->view()->topLevelItem(0));
    page->OnRemove();
    QCOMPARE(f.host.Texts(), QStringList({"系統預設帳號(admin)不可刪除"}));
    // Removing carol with her mail: only her own folder's messages go.
    QVERIFY(WriteFileAtomic(f.home.path(), f.home / "Mailboxes/carol/1.eml", "mail"));
    f.host.answer_yes = true;
    page->view()->setCurrentItem(page->view()->topLevelItem(2));
    page->OnRemove();
    QVERIFY(!FileExists(f.home / "Mailboxes/carol"));
    QVERIFY(FileExists(f.home / "Mailboxes/bob"));

    // An edit never gives two accounts one name, and needs a selection.
    f.host.dialogs = {User("bo"), User("BO")};
    page->OnAdd();  // bo, admin, bob
    page->view()->setCurrentItem(page->view()->topLevelItem(2));
    page->OnEdit();
    page->view()->clearSelection();
    page->OnEdit();
    page->OnRemove();
    names.clear();
    after = DecodeAccounts(*f.store.ReadBytes("UserAccounts", "Users"));
    for (const CUserAccount& a : *after) names.push_back(a.name);
    QCOMPARE(names, (std::vector<std::string>{"admin", "bo", "bob"}));
    QVERIFY(f.host.dialogs.empty());

    auto* catch_all = page->catch_all();
    QCOMPARE(catch_all->itemText(0), QString("-停用-"));
    catch_all->setCurrentIndex(3);
    emit catch_all->activated(3);
    QCOMPARE(Text(f.Value("CatchAllAccount")), std::string("bob"));
  }

  void antiSpamSwitchesWaitForApply() {
    Fixture f;
    f.Open();
    f.ShowPage(6);
    Find<QRadioButton>(f.sheet.get(), "過濾模式：在主旨加註以下文字")->setChecked(true);
    Find<QCheckBox>(f.sheet.get(), "啟用 IP 黑名單資料庫查詢")->setChecked(false);
    QVERIFY(!f.Value("FilterMode"));
    f.Press(QDialogButtonBox::Apply);
    QCOMPARE(f.store.ReadNumber("Settings", "FilterMode", 0), 1);
    QCOMPARE(f.store.ReadNumber("Settings", "CheckDNSBL", 1), 0);
    QVERIFY(!f.Value("RobotProtected"));  // the Advanced page's, not this page's
  }
};

QTEST_MAIN(KestrelListsTest)
#include "kestrel_lists_test.moc"
