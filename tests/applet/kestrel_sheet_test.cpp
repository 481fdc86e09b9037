// The sheet and its settings pages, driven as a user would, against a
// temporary store and a fake desktop.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "applet/kestrel_app.h"
#include "applet/list_view.h"
#include "applet/pages.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "platform/text.h"
#include "service/accounts.h"
#include "service/service_names.h"
#include "service/settings_store.h"
#include "tests/applet/sheet_fixture.h"
#include "tests/platform/temp_dir.h"

using namespace heron;
using namespace heron::kestrel;
using namespace heron::kestrel::testing;

class KestrelSheetTest : public QObject {
  Q_OBJECT

 private slots:
  void defaultsOnAnEmptyStoreAndNothingWrittenUnchanged() {
    Fixture f;
    f.Open();
    QCOMPARE(f.Edit("POP3 通訊埠：")->text(), QString("110"));
    QCOMPARE(f.Edit("SMTP通訊埠：")->text(), QString("25"));
    QCOMPARE(f.Edit("伺服器 ID：")->text(), QString("Heron Mail Server SMTP (4.2)"));
    QCOMPARE(f.Edit("郵件資料夾：")->text(), QString::fromStdString(f.home / "Mailboxes"));
    QCOMPARE(Find<QComboBox>(f.sheet.get(), "記錄等級：")->currentText(), QString("常態追蹤"));
    QCOMPARE(f.Edit("檔案限制：")->text(), QString("2"));
    QCOMPARE(Find<QSpinBox>(f.sheet.get(), "最大連線數：")->value(), 500);
    QCOMPARE(Find<QSpinBox>(f.sheet.get(), "連線逾時(秒)：")->value(), 90);
    QCOMPARE(Find<QSpinBox>(f.sheet.get(), "單一 IP 最大連線數：")->value(), 20);
    QCOMPARE(f.Edit("憑證檔案 (PEM)：")->text(), QString());
    QCOMPARE(Find<QSpinBox>(f.sheet.get(), "SMTPS 通訊埠：")->value(), 0);
    QCOMPARE(Find<QSpinBox>(f.sheet.get(), "POP3S 通訊埠：")->maximum(), 65535);
    QVERIFY(Find<QCheckBox>(f.sheet.get(), "外部連線須先加密才能登入  ( 本機連線不受限制 )")
                ->isChecked());
    QVERIFY(Find<QCheckBox>(f.sheet.get(), "允許使用者遠端修改密碼")->isChecked());
    QVERIFY(!Find<QCheckBox>(f.sheet.get(), "允取傳遞外寄郵件")->isChecked());
    QCOMPARE(f.Edit("重試次數：")->text(), QString("10"));
    QCOMPARE(f.Edit("過期郵件時效：")->text(), QString("24"));
    QCOMPARE(Find<QComboBox>(f.sheet.get(), "請選擇寄件複本收件人帳號：")->currentText(),
             QString("-無-"));
    QVERIFY(!f.sheet->button(QDialogButtonBox::Apply)->isEnabled());
    f.Press(QDialogButtonBox::Ok);
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    QCOMPARE(f.host.events, std::vector<std::string>{kReloadEventName});
    QVERIFY(f.reg.ValueNames(std::string(kRootKey) + "\\Settings").empty());
  }

  void fieldChecksRefuseAndKeepThePage_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("MaxLog 0") << 0 << "檔案限制："
                              << "0"
                              << "請輸入介於 1 和 1000 之間的整數。";
    QTest::newRow("MaxLog 1001") << 0 << "檔案限制："
                                 << "1001"
                                 << "請輸入介於 1 和 1000 之間的整數。";
    QTest::newRow("port text") << 0 << "POP3 通訊埠："
                               << "pop"
                               << "請輸入介於 0 和 65535 之間的整數。";
    QTest::newRow("RetryTimes 100") << 3 << "重試次數："
                                    << "100"
                                    << "請輸入介於 0 和 99 之間的整數。";
    QTest::newRow("RetryTimeout 0") << 3 << "過期郵件時效："
                                    << "0"
                                    << "請輸入介於 1 和 999 之間的整數。";
  }
  void fieldChecksRefuseAndKeepThePage() {
    QFETCH(int, page);
    QFETCH(QString, label);
    QFETCH(QString, value);
    QFETCH(QString, message);
    Fixture f;
    f.store.WriteNumber("Settings", "RelayMessages", 1);
    f.Open();
    f.ShowPage(page);
    f.Edit(label)->setText(value);
    // Leaving the page is refused, and so are Apply and OK.
    f.sheet->SetActivePage(page == 0 ? 1 : 0);
    QCOMPARE(f.sheet->GetActiveIndex(), page);
    f.Press(QDialogButtonBox::Apply);
    f.Press(QDialogButtonBox::Ok);
    QVERIFY(f.sheet->isVisible());
    QCOMPARE(f.host.Texts(), QStringList({message, message, message}));
    QVERIFY(f.host.events.empty());
    QCOMPARE(f.reg.ValueNames(std::string(kRootKey) + "\\Settings"),
             std::vector<std::string>{"RelayMessages"});
  }

  void applyAndOkWriteTheModifiedPagesAndSignalOncePerPress() {
    Fixture f;
    f.Open();
    f.Press(QDialogButtonBox::Cancel);
    QVERIFY(f.host.events.empty());

    f.Open();
    f.Edit("POP3 通訊埠：")->setText("1110");
    QVERIFY(f.sheet->button(QDialogButtonBox::Apply)->isEnabled());
    f.Press(QDialogButtonBox::Apply);
    QCOMPARE(f.host.events, std::vector<std::string>{kReloadEventName});
    QCOMPARE(f.store.ReadNumber("Settings", "Port", 0), 1110);
    // The whole General page is written, nothing of the pages left alone.
    QCOMPARE(Text(f.Value("ServerID")), std::string("Heron Mail Server SMTP (4.2)"));
    QVERIFY(!f.Value("ConnectionsLimit"));
    QVERIFY(!f.sheet->button(QDialogButtonBox::Apply)->isEnabled());
    f.Press(QDialogButtonBox::Cancel);
    QCOMPARE(f.host.events.size(), size_t(1));

    f.Open();
    Find<QSpinBox>(f.sheet.get(), "最大連線數：")->setValue(42);
    f.Press(QDialogButtonBox::Apply);
    f.Press(QDialogButtonBox::Ok);
    QCOMPARE(f.host.events.size(), size_t(3));
    QCOMPARE(f.store.ReadNumber("Settings", "ConnectionsLimit", 0), 42);
  }

  void relaySwitchDisablesItsFieldsAndWarnsOfTheComputerName() {
    Fixture f;
    f.store.WriteText("Settings", "HostName", "officepc");
    f.Open();
    f.ShowPage(3);
    QLineEdit* host_name = f.Edit("主機名稱：");
    auto* relay = Find<QCheckBox>(f.sheet.get(), "允取傳遞外寄郵件");
    QVERIFY(!host_name->isEnabled());
    QVERIFY(!Find<QPushButton>(f.sheet.get(), "查詢測試")->isEnabled());
    QVERIFY(!Find<QCheckBox>(f.sheet.get(), "寄送外部郵件需要驗證(建議)")->isEnabled());
    QVERIFY(Find<QComboBox>(f.sheet.get(), "請選擇寄件複本收件人帳號：")->isEnabled());
    QVERIFY(f.sheet->relay()->mx_records()->view()->isEnabled());
    QVERIFY(f.host.boxes.empty());
    relay->setChecked(true);
    QVERIFY(host_name->isEnabled());
    QCOMPARE(f.host.Texts(),
             QStringList({"您目前使用電腦名稱 [ officepc ] 作為郵件主機名稱。\r\n\r\n"
                          "建議改成真正的郵件主機網址，以免被當作垃圾郵件主機！"}));
    QCOMPARE(f.host.boxes[0].caption, QString("郵件主機設定值"));
    host_name->setText("mail.example.com");
    relay->setChecked(false);
    relay->setChecked(true);
    QCOMPARE(f.host.boxes.size(), size_t(1));
  }

  void serviceBoxFollowsTheServiceManager() {
    Fixture f;
    f.Open();
    CGeneralPage* g = f.sheet->general();
    QCOMPARE(g->status_line()->text(), QString("尚未安裝"));
    QVERIFY(!f.Edit("伺服器 ID：")->isEnabled());
    QVERIFY(f.Edit("POP3 通訊埠：")->isEnabled());
    QTest::mouseClick(g->start_button(), Qt::LeftButton);
    QCOMPARE(g->start_time_line()->text(), QString("服務開始時間：2026/12/06 -- 17:05:09"));
    QCOMPARE(Text(f.Value("StartTime")), std::string("服務開始時間：2026/12/06 -- 17:05:09"));
    QVERIFY(f.host.runs.empty());

    f.host.states[kServiceName] = kServiceRunning;
    f.host.programs[kServiceName] = "/usr/sbin/osprey";
    f.host.programs["Heron Mail Monitor"] = "/opt/monitor";
    f.ShowPage(1);  // the Advanced page follows the state from its opening
    f.ShowPage(0);
    g->Poll();
    QCOMPARE(g->status_line()->text(), QString("執行中"));
    QVERIFY(!g->start_button()->isEnabled());
    QVERIFY(g->stop_button()->isEnabled());
    for (const char* field : {"POP3 通訊埠：", "SMTP通訊埠：", "伺服器 ID：", "郵件資料夾："}) {
      QVERIFY(!f.Edit(field)->isEnabled());
    }
    QTRY_VERIFY(!f.sheet->advanced()->restore_button()->isEnabled());

    g->OnRestart();
    QCOMPARE(f.host.runs, (std::vector<std::string>{"/opt/monitor -e", "/usr/sbin/osprey -e"}));
    QVERIFY(g->restart_pending());
    f.host.states[kServiceName] = kServiceStopped;
    // The poll after the stop starts the service again; while it stays
    // stopped, the next one makes the fields editable.
    QTRY_COMPARE_WITH_TIMEOUT(f.host.runs.size(), size_t(4), 1500);
    QCOMPARE(f.host.runs.back(), std::string("/opt/monitor -s"));
    QTRY_VERIFY_WITH_TIMEOUT(f.Edit("POP3 通訊埠：")->isEnabled(), 1500);
    QCOMPARE(f.host.runs[2], std::string("/usr/sbin/osprey -s"));
    QVERIFY(!g->restart_pending());
    QTRY_VERIFY_WITH_TIMEOUT(f.sheet->advanced()->restore_button()->isEnabled(), 1500);
  }

  void backupAndRestoreTheWholeKey() {
    Fixture f;
    f.store.WriteNumber("Settings", "Port", 2525);
    f.store.WriteList("Domains", "Extensions", {"example.com"});
    f.Open();
    CAdvancedPage* a = f.sheet->advanced();
    f.host.folders.push_back(QString::fromStdString(f.home.path()));
    a->OnBackup();
    std::string file = f.home / "20261206170509.db";
    QVERIFY(FileExists(file));
    QCOMPARE(f.host.Texts().last(), QString("完成資料備份"));

    f.store.WriteNumber("Settings", "Port", 1);
    f.store.WriteList("Domains", "Extensions", {});
    f.store.WriteNumber("Settings", "Timeout", 5);
    f.host.files.push_back(QString::fromStdString(file));
    f.host.holds_store = true;  // a running service: refused
    a->OnRestore();
    QCOMPARE(f.host.Texts().last(), QString("無法完成資料回存工作"));
    QCOMPARE(f.store.ReadNumber("Settings", "Port", 0), 1);
    f.host.holds_store = false;
    f.host.files.push_back(QString::fromStdString(file));
    a->OnRestore();
    QCOMPARE(f.host.Texts().last(), QString("完成資料回存，請關閉控制台，重新啟動應用程式。！"));
    QCOMPARE(f.store.ReadNumber("Settings", "Port", 0), 2525);
    QCOMPARE(f.store.ReadNumber("Settings", "Timeout", 0), 0);  // gone with the key
    QCOMPARE(*f.store.ReadList("Domains", "Extensions"), std::vector<std::string>{"example.com"});

    // A folder that cannot be written: no file, and the failure is told.
    f.host.folders.push_back("/nonexistent/folder");
    a->OnBackup();
    QCOMPARE(f.host.Texts().last(), QString("無法完成備份工作"));
  }

  void versionCheck_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");
    QTest::newRow("current") << QByteArray("420018\r\n") << "目前已經是最新的版本！";
    QTest::newRow("newer") << QByteArray("420100")
                           << "Heron Mail Server 最新版本 [ 4.2.0100 ] 已開放下載...\r\n\r\n"
                              "您想了解最新的版本資訊嗎？ ";
  }
  void versionCheck() {
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, &server, [&] {
      QTcpSocket* s = server.nextPendingConnection();
      connect(s, &QTcpSocket::readyRead, s, [s, body] {
        s->readAll();
        s->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body);
        s->disconnectFromHost();
      });
    });
    Fixture f;
    f.host.version_url = QString("http://127.0.0.1:%1/version.txt").arg(server.serverPort());
    f.host.answer_yes = true;
    f.Open();
    f.sheet->advanced()->OnCheckVersion();
    QTRY_COMPARE(f.host.Texts(), QStringList({shown}));
    QCOMPARE(f.host.urls.size(), size_t(body == "420100" ? 1 : 0));

    // Nobody there: nothing at all.
    f.host.boxes.clear();
    f.host.version_url = "http://127.0.0.1:9/version.txt";
    f.sheet->advanced()->OnCheckVersion();
    QTRY_VERIFY(f.sheet->advanced()->version_button()->isEnabled());
    QVERIFY(f.host.boxes.empty());
  }

  void nameServerDetectedOnlyWhenPublic() {
    Fixture f;
    f.host.name_servers = {"192.168.1.1", "168.95.1.1"};
    f.Open();
    QCOMPARE(Text(f.Value("DNSServer")), std::string("168.95.1.1"));
    QCOMPARE(f.Edit("DNS 伺服器：")->text(), QString("168.95.1.1"));

    Fixture g;
    g.host.name_servers = {"192.168.1.1", "10.1.1.1"};
    g.Open();
    QVERIFY(!g.Value("DNSServer"));
  }

  void pageKeysWrapAround() {
    Fixture f;
    f.Open();
    QCOMPARE(f.sheet->GetPageCount(), 7);
    QTest::keyClick(f.Edit("POP3 通訊埠："), Qt::Key_PageDown);
    QCOMPARE(f.sheet->GetActiveIndex(), 6);
    QCOMPARE(f.sheet->header()->item().title, QString("封鎖垃圾郵件"));
    QTest::keyClick(f.sheet->tabs(), Qt::Key_PageUp);
    QCOMPARE(f.sheet->GetActiveIndex(), 0);
    QTest::keyClick(f.sheet->tabs(), Qt::Key_PageUp);
    QCOMPARE(f.sheet->header()->item().title, QString("進階設定"));
    QStringList tabs;
    for (int i = 0; i < 7; ++i) tabs << f.sheet->tabs()->tabText(i);
    QCOMPARE(tabs, QStringList({"一般設定", "進階設定", "網域名稱", "外寄郵件", "郵件帳號",
                                "轉寄、副本", "垃圾郵件 "}));
  }

  void mailExchangerListAndCopyAccountAreStoredAtOnce() {
    Fixture f;
    f.store.WriteBytes("UserAccounts", "Users",
                       EncodeAccounts({{"admin", "", "pw", 0}, {"bob", "", "pw", 0}}));
    f.Open();
    auto fill = [](QString domain, QString host) {
      return [=](QDialog& d) {
        auto& dialog = static_cast<CFieldsDialog&>(d);
        dialog.SetValue(0, domain);
        dialog.SetValue(1, host);
        return true;
      };
    };
    CStoredList* mx = f.sheet->relay()->mx_records();
    f.host.dialogs = {fill("Example.com", "mx1.example.com"),
                      fill("example.COM", "MX1.example.com"), fill("other.org", "mx.other.org")};
    mx->Add();
    mx->Add();  // the same row, other case: dropped without a word
    mx->Add();
    QVERIFY(f.host.boxes.empty());
    QCOMPARE(*f.store.ReadList("Relay", "MxRecords"),
             (std::vector<std::string>{"Example.com|mx1.example.com", "other.org|mx.other.org"}));
    QCOMPARE(mx->view()->topLevelItem(1)->text(1), QString("mx.other.org"));
    mx->view()->setCurrentItem(mx->view()->topLevelItem(0));
    mx->Remove();
    QCOMPARE(*f.store.ReadList("Relay", "MxRecords"),
             std::vector<std::string>{"other.org|mx.other.org"});

    auto* cc = Find<QComboBox>(f.sheet.get(), "請選擇寄件複本收件人帳號：");
    QCOMPARE(cc->count(), 3);
    cc->setCurrentIndex(2);
    emit cc->activated(2);
    QCOMPARE(Text(f.Value("CcAccount")), std::string("bob"));
    QVERIFY(f.sheet->button(QDialogButtonBox::Apply)->isEnabled());
  }

  void dnsTestAsksForTheAddressDomain() {
    Fixture f;
    f.store.WriteText("Settings", "DNSServer", "127.0.0.53");
    f.store.WriteNumber("Settings", "RelayMessages", 1);
    f.host.mx.ok = true;
    f.host.mx.entries = {"10 mx1.example.com", "20 mx2.example.com"};
    f.host.dialogs = {[](QDialog& d) {
      static_cast<CFieldsDialog&>(d).SetValue(0, "Bob <Bob@Example.COM>");
      return true;
    }};
    f.Open();
    // The field is taken when the page is left or applied, not when the
    // button is pressed.
    f.ShowPage(3);
    f.Edit("DNS 伺服器：")->setText("127.0.0.99");
    f.sheet->relay()->OnDnsTest();
    QTRY_COMPARE(f.host.Texts(), QStringList({"10 mx1.example.com", "20 mx2.example.com"}));
    QCOMPARE(f.host.lookups,
             (std::vector<std::pair<std::string, std::string>>{{"127.0.0.53", "example.com"}}));

    f.host.boxes.clear();
    f.host.mx = {false, Utf8ToBig5("無法解析 DNS 伺服器"), {}};
    f.host.dialogs = {[](QDialog& d) {
      static_cast<CFieldsDialog&>(d).SetValue(0, "a@b.example");
      return true;
    }};
    f.Press(QDialogButtonBox::Apply);
    f.sheet->relay()->OnDnsTest();
    QTRY_COMPARE(f.host.Texts(), QStringList({"無法解析 DNS 伺服器"}));
    QCOMPARE(f.host.lookups.back().first, std::string("127.0.0.99"));
  }

  void viewLogReportsAMissingEditor() {
    Fixture f;
    f.Open();
    f.host.open_result = OpenResult::kNotFound;
    f.sheet->general()->OnViewLog();
    QCOMPARE(f.host.opened, std::vector<QString>{QString::fromStdString(f.home / "Mailtrace.log")});
    QCOMPARE(f.host.Texts(), QStringList({"找不到 'xdg-open'！"}));
    QCOMPARE(f.host.boxes[0].caption, QString("ShellExecute 執行錯誤"));
  }

  void controlPanelProtocol() {
    QCOMPARE(AppletEntry(CPL_GETCOUNT, 0), 1);
    QCOMPARE(AppletEntry(CPL_SELECT, 0), 1);
    QCOMPARE(AppletEntry(77, 0), 1);
    NEWCPLINFOA info;
    QCOMPARE(AppletEntry(CPL_NEWINQUIRE, reinterpret_cast<intptr_t>(&info)), 0);
    QCOMPARE(info.dwSize, 244u);
    QCOMPARE(info.hIcon, 100u);
    QCOMPARE(std::string(info.szName), std::string("Heron Mail Server"));
    QCOMPARE(Big5ToUtf8(info.szInfo), std::string("Heron Mail Server 4.2 控制台"));
    CPLINFO classic;
    QCOMPARE(AppletEntry(CPL_INQUIRE, reinterpret_cast<intptr_t>(&classic)), 0);
    QCOMPARE(classic.idIcon, 100);
    QCOMPARE(classic.idInfo, 2);
  }
};

QTEST_MAIN(KestrelSheetTest)
#include "kestrel_sheet_test.moc"
