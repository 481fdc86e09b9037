// The diagnosis dialog under the offscreen platform: the command line's
// target in its fields, runs appended to one list, the list's cap.
#include "diagnose/skylark_dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <set>

using namespace heron::skylark;

namespace {

// Never reached: a run without a DNS server stops before the network.
class NoNet : public DiagnosisNet {
 public:
  MxAnswer QueryMx(const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> HttpGet(const std::string&) override { return std::nullopt; }
  std::string ResolveIPv4(const std::string&) override { return {}; }
  bool ProbeSmtp(const std::string&, SmtpSink&) override { return false; }
  std::vector<std::string> EchoUrls() override { return {}; }
  std::tm Now() override { return {}; }
};

SkylarkDlg::NetFactory Factory() {
  return [](const std::atomic<bool>*) { return std::make_unique<NoNet>(); };
}

// MX queries that wait until the test lets the domain's answer ("mx-" and
// the domain, as an error) go.
struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  std::set<std::string> open;
  std::atomic<int> waiting{0};
};
class GatedNet : public NoNet {
 public:
  explicit GatedNet(Gate& gate) : gate_(gate) {}
  MxAnswer QueryMx(const std::string&, const std::string& domain) override {
    std::unique_lock<std::mutex> lock(gate_.mu);
    ++gate_.waiting;
    gate_.cv.wait(lock, [&] { return gate_.open.count(domain) > 0; });
    return {false, "mx-" + domain, {}};
  }

 private:
  Gate& gate_;
};

}  // namespace

class SkylarkDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void targetFieldsAndIntroduction() {
    SkylarkDlg dlg(ParseCommandLine({"/H:Example.com,168.95.1.1"}), Factory());
    QCOMPARE(dlg.windowTitle(), QString("郵件伺服器 DNS 與網路設定檢測工具"));
    QCOMPARE(dlg.domain_box()->text(), QString("Example.com"));
    QCOMPARE(dlg.dns_box()->currentText(), QString("168.95.1.1"));
    QCOMPARE(dlg.dns_box()->count(), 4);
    QCOMPARE(dlg.results()->count(), 12);
    QVERIFY(dlg.start_button()->isDefault());
  }

  void runsAppendAndTheListKeepsItsNewestLines() {
    SkylarkDlg dlg(ParseCommandLine({"/H:example.com"}), Factory());
    dlg.show();
    QCOMPARE(dlg.dns_box()->currentText(), QString());
    QTest::mouseClick(dlg.start_button(), Qt::LeftButton);
    QTRY_COMPARE(dlg.results()->count(), 15);
    QListWidgetItem* last = dlg.results()->item(14);
    QCOMPARE(last->text(), QString("[00:00:00] 無法取得 DNS 伺服器資料。"));
    QCOMPARE(last->foreground().color(), QColor(255, 0, 0));
    QCOMPARE(dlg.results()->currentItem(), last);
    const QString last_text = last->text();
    // One run after the other (3 lines each), until the oldest lines go.
    for (int i = 0; i < 85; ++i) {
      dlg.domain_box()->setText(QString("d%1.example").arg(i));
      dlg.OnStart();
      QTRY_VERIFY(dlg.results()->count() >= 3 && dlg.results()
                                                     ->item(dlg.results()->count() - 3)
                                                     ->text()
                                                     .contains(QString("[ d%1.example ]").arg(i)));
    }
    QCOMPARE(dlg.results()->count(), 251);
    QCOMPARE(dlg.results()->currentRow(), 250);
    QCOMPARE(dlg.results()->currentItem()->text(), last_text);
    // The introduction went first.
    QVERIFY(dlg.results()
                ->findItems(QString::fromStdString(IntroductionLines()[0].text), Qt::MatchExactly)
                .isEmpty());
  }

  void aSecondRunNestsInsideTheWaitingOne() {
    Gate gate;
    SkylarkDlg dlg(ParseCommandLine({"/H:first.example,192.0.2.53"}),
                   [&](const std::atomic<bool>*) { return std::make_unique<GatedNet>(gate); });
    dlg.OnStart();
    QTRY_COMPARE(gate.waiting.load(), 1);
    dlg.domain_box()->setText("second.example");
    dlg.OnStart();
    QTRY_COMPARE(gate.waiting.load(), 2);
    auto let_go = [&](const char* domain) {
      std::lock_guard<std::mutex> lock(gate.mu);
      gate.open.insert(domain);
      gate.cv.notify_all();
    };
    // The first run's answer comes first, yet its lines wait for the
    // second run, which started inside it.
    let_go("first.example");
    QTest::qWait(300);
    let_go("second.example");
    auto row = [&](const char* text) {
      auto found = dlg.results()->findItems(text, Qt::MatchContains);
      return found.isEmpty() ? -1 : dlg.results()->row(found[0]);
    };
    QTRY_VERIFY(row("mx-first.example") >= 0);
    QVERIFY(row("mx-second.example") >= 0);
    QVERIFY(row("mx-second.example") < row("mx-first.example"));
  }
};

QTEST_MAIN(SkylarkDlgTest)
#include "skylark_dlg_test.moc"
