// skylark: checks a domain's mail exchangers against this machine's public
// address and probes their SMTP port. With --text the same lines go to
// standard output and the exit status tells the outcome.
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "diagnose/skylark_dlg.h"

using namespace heron::skylark;

namespace {

const char* kUsage =
    "usage: skylark [--text] [/H:DOMAIN[,DNS-SERVER]]\n"
    "  --text   run the diagnosis at once and write its lines to standard output;\n"
    "           exit status 0 when the SMTP probe ended with its last step\n";

// A line as the terminal may show it: what a remote server sent is valid
// UTF-8 afterwards (as in the dialog's list), and its control characters,
// which could drive the terminal, are question marks.
std::string Printable(const std::string& text) {
  QByteArray utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8();
  for (char& c : utf8) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) c = '?';
  }
  return utf8.toStdString();
}

class PrintLines : public DiagnosisOutput {
 public:
  explicit PrintLines(bool colours) : colours_(colours) {}
  void Add(const ResultLine& line) override {
    std::string text = Printable(line.text);
    if (colours_) {
      std::printf("\x1b[38;2;%d;%d;%dm%s\x1b[0m\n", line.colour.r, line.colour.g, line.colour.b,
                  text.c_str());
    } else {
      std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
  }

 private:
  bool colours_;
};

}  // namespace

int main(int argc, char** argv) {
  bool text = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--text") == 0) {
      text = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strncmp(argv[i], "--", 2) == 0) {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      args.push_back(argv[i]);
    }
  }
  Target target = ParseCommandLine(args);
  if (text) {
    QCoreApplication app(argc, argv);
    PrintLines out(isatty(STDOUT_FILENO));
    for (const ResultLine& line : IntroductionLines()) out.Add(line);
    std::atomic<bool> cancel{false};
    LiveNet net(&cancel);
    return RunDiagnosis(target.domain, target.dns_server, net, out) ? 0 : 1;
  }
  QApplication app(argc, argv);
  QTranslator translator;
  if (translator.load(QLocale(QLocale::Chinese, QLocale::Taiwan), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&translator);
  }
  SkylarkDlg dialog(
      target, [](const std::atomic<bool>* cancel) { return std::make_unique<LiveNet>(cancel); });
  dialog.exec();
  return 0;
}
