// The diagnosis dialog and the network it uses: the DNS client, Qt's HTTP
// client for the echo services, the system's resolver and the SMTP probe.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnose/diagnosis.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace heron::skylark {

// The network of a real run; every wait ends soon after `*cancel` is set.
class LiveNet : public DiagnosisNet {
 public:
  explicit LiveNet(const std::atomic<bool>* cancel) : cancel_(cancel) {}
  MxAnswer QueryMx(const std::string& server, const std::string& domain) override;
  std::optional<std::string> HttpGet(const std::string& url) override;
  std::string ResolveIPv4(const std::string& host) override;
  bool ProbeSmtp(const std::string& host, SmtpSink& sink) override;
  std::vector<std::string> EchoUrls() override { return EchoServiceUrls(); }
  std::tm Now() override;

 private:
  const std::atomic<bool>* cancel_;
};

// The result list: each line in its own colour, the newest selected.
class CColorListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit CColorListBox(QWidget* parent);
  void AddLine(const ResultLine& line);

 private:
  ResultList model_;
};

// Runs nest: a run started while another one waits shows all its lines
// first, and the earlier run's further lines wait until it has ended, as
// if it ran inside the earlier one's wait.
class RunOrder {
 public:
  // A new innermost run (dialog thread, at the press).
  int Enter();
  // Waits until `run` is the innermost one (or everything is cancelled).
  void WaitTurn(int run, const std::atomic<bool>& cancel);
  void Leave(int run);
  // Wakes every waiting run (after cancel was set).
  void WakeAll();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<int> stack_;
  int next_ = 0;
};

class SkylarkDlg : public QDialog {
  Q_OBJECT
 public:
  using NetFactory = std::function<std::unique_ptr<DiagnosisNet>(const std::atomic<bool>*)>;
  SkylarkDlg(const Target& target, NetFactory net);
  ~SkylarkDlg() override;

  // The start button: one more run, on a thread of its own, appending to the
  // same list; it nests in a run that is still going (RunOrder).
  void OnStart();
  CColorListBox* results() const { return results_; }
  QLineEdit* domain_box() const { return domain_; }
  QComboBox* dns_box() const { return dns_; }
  QPushButton* start_button() const { return start_; }

 private:
  NetFactory net_;
  QLineEdit* domain_;
  QComboBox* dns_;
  QPushButton* start_;
  CColorListBox* results_;
  struct Run {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended;
  };
  std::atomic<bool> cancel_{false};
  RunOrder order_;
  std::vector<Run> runs_;
};

}  // namespace heron::skylark
