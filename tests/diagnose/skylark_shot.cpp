// A picture of the diagnosis dialog for the README: one run over a scripted
// network that answers like a well-set-up office, saved as <file>.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "diagnose/skylark_dlg.h"

using namespace heron::skylark;

namespace {

class SampleNet : public DiagnosisNet {
 public:
  MxAnswer QueryMx(const std::string&, const std::string&) override {
    return {true, "", {"10 mail.example.com.tw"}};
  }
  std::optional<std::string> HttpGet(const std::string&) override { return "203.0.113.25\n"; }
  std::string ResolveIPv4(const std::string&) override { return "203.0.113.25"; }
  bool ProbeSmtp(const std::string&, SmtpSink& sink) override {
    for (const char* line :
         {"Connected to SMTP host", "220 mail.example.com.tw ESMTP", "HELO mail.example.com.tw",
          "250 OK", " 恭喜您，網路連線正常！", "QUIT", "221 Bye", "完成！"}) {
      sink.ShowText(line);
    }
    return true;
  }
  std::vector<std::string> EchoUrls() override { return {"http://echo.invalid/"}; }
  std::tm Now() override {
    std::tm t{};
    t.tm_hour = 17;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: skylark_shot FILE.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  SkylarkDlg dialog(ParseCommandLine({"/H:example.com.tw,HiNet DNS (168.95.1.1)"}),
                    [](const std::atomic<bool>*) { return std::make_unique<SampleNet>(); });
  dialog.resize(900, 640);
  dialog.show();
  dialog.OnStart();
  bool saved = false;
  QTimer::singleShot(1500, &dialog, [&] {
    saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    dialog.close();
  });
  dialog.exec();
  return saved ? 0 : 1;
}
