#include "diagnose/skylark_dlg.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "diagnose/smtp_probe.h"
#include "dns/dns_lookup.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace heron::skylark {

namespace {
constexpr int kHttpTimeoutMs = 10000;
constexpr qint64 kHttpTotalMs = 30000;
constexpr qint64 kHttpMaxBytes = 65536;
constexpr const char* kMakerUrl = "https://www.tallyworks.example/";
}  // namespace

MxAnswer LiveNet::QueryMx(const std::string& server, const std::string& domain) {
  CDnsLookup lookup(DnsTexts::Chinese());
  lookup.SetCancel(cancel_);
  MxAnswer a;
  std::vector<std::string> entries;
  a.ok = lookup.Lookup(server, domain, entries);
  for (const std::string& e : entries) a.entries.push_back(Big5ToUtf8(e));
  if (!a.ok) a.error = Big5ToUtf8(lookup.GetErrorText());
  return a;
}

std::optional<std::string> LiveNet::HttpGet(const std::string& url) {
  QNetworkAccessManager manager;
  QNetworkRequest request{QUrl(QString::fromStdString(url))};
  request.setTransferTimeout(kHttpTimeoutMs);
  QNetworkReply* reply = manager.get(request);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  // A service that drips its answer, or sends far more than an address,
  // is given up: the whole request has a time limit and a size limit.
  QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                   [reply](qint64 received, qint64) {
                     if (received > kHttpMaxBytes) reply->abort();
                   });
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
    if ((cancel_ && *cancel_) || elapsed.elapsed() > kHttpTotalMs) reply->abort();
  });
  watch.start(200);
  if (!reply->isFinished()) loop.exec();
  std::optional<std::string> body;
  int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (reply->error() == QNetworkReply::NoError && (status == 0 || status == 200)) {
    body = reply->readAll().toStdString();
  }
  delete reply;
  return body;
}

std::string LiveNet::ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return {};
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

bool LiveNet::ProbeSmtp(const std::string& host, SmtpSink& sink) {
  CSmtpSocket socket(sink, MachineHostName(), cancel_);
  return socket.Run(host);
}

std::tm LiveNet::Now() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

CColorListBox::CColorListBox(QWidget* parent) : QListWidget(parent) {
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void CColorListBox::AddLine(const ResultLine& line) {
  if (model_.Add(line)) delete takeItem(0);
  auto* item = new QListWidgetItem(QString::fromStdString(line.text), this);
  item->setForeground(QColor(line.colour.r, line.colour.g, line.colour.b));
  setCurrentItem(item);
  scrollToItem(item);
}

SkylarkDlg::SkylarkDlg(const Target& target, NetFactory net) : net_(std::move(net)) {
  setWindowTitle(QStringLiteral("郵件伺服器 DNS 與網路設定檢測工具"));
  domain_ = new QLineEdit(QString::fromStdString(target.domain), this);
  dns_ = new QComboBox(this);
  dns_->setEditable(true);
  for (const DnsPreset& p : DnsPresets()) dns_->addItem(QString::fromUtf8(p.name));
  dns_->setEditText(QString::fromStdString(target.dns_server));
  start_ = new QPushButton(QStringLiteral("開始測試"), this);
  start_->setDefault(true);
  results_ = new CColorListBox(this);
  results_->setAccessibleName(QStringLiteral("檢測結果"));
  results_->setMinimumSize(760, 360);
  auto* link = new QLabel(
      QStringLiteral("<a href=\"%1\">Tallyworks, Inc.</a>").arg(QString::fromLatin1(kMakerUrl)),
      this);
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(link, &QLabel::linkActivated, this,
          [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });

  auto* grid = new QGridLayout;
  auto* domain_label = new QLabel(QStringLiteral("網域名稱："), this);
  domain_label->setBuddy(domain_);
  domain_->setAccessibleName(domain_label->text());
  auto* dns_label = new QLabel(QStringLiteral("DNS 伺服器："), this);
  dns_label->setBuddy(dns_);
  dns_->setAccessibleName(dns_label->text());
  grid->addWidget(domain_label, 0, 0);
  grid->addWidget(domain_, 0, 1);
  grid->addWidget(dns_label, 0, 2);
  grid->addWidget(dns_, 0, 3);
  grid->addWidget(start_, 0, 4);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(results_, 1);
  layout->addWidget(link, 0, Qt::AlignRight);

  for (const ResultLine& line : IntroductionLines()) results_->AddLine(line);
  connect(start_, &QPushButton::clicked, this, &SkylarkDlg::OnStart);
}

SkylarkDlg::~SkylarkDlg() {
  cancel_ = true;
  order_.WakeAll();
  for (Run& r : runs_) r.thread.join();
}

int RunOrder::Enter() {
  std::lock_guard<std::mutex> lock(mu_);
  stack_.push_back(next_);
  return next_++;
}

void RunOrder::WaitTurn(int run, const std::atomic<bool>& cancel) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return cancel || stack_.back() == run; });
}

void RunOrder::Leave(int run) {
  std::lock_guard<std::mutex> lock(mu_);
  std::erase(stack_, run);
  cv_.notify_all();
}

void RunOrder::WakeAll() {
  std::lock_guard<std::mutex> lock(mu_);
  cv_.notify_all();
}

namespace {

// Lines of a run, handed to the dialog's thread in nesting order.
class PostToList : public DiagnosisOutput {
 public:
  PostToList(CColorListBox* list, RunOrder& order, int run, const std::atomic<bool>& cancel)
      : list_(list), order_(order), run_(run), cancel_(cancel) {}
  void Add(const ResultLine& line) override {
    order_.WaitTurn(run_, cancel_);
    QMetaObject::invokeMethod(
        list_, [list = list_, line] { list->AddLine(line); }, Qt::QueuedConnection);
  }

 private:
  CColorListBox* list_;
  RunOrder& order_;
  int run_;
  const std::atomic<bool>& cancel_;
};

}  // namespace

void SkylarkDlg::OnStart() {
  std::string domain = domain_->text().trimmed().toStdString();
  std::string dns = dns_->currentText().trimmed().toStdString();
  // The network is waited for on a thread of its own: the window stays
  // responsive, and a second press starts a second run inside the first.
  std::erase_if(runs_, [](Run& r) {
    if (!*r.ended) return false;
    r.thread.join();
    return true;
  });
  auto ended = std::make_shared<std::atomic<bool>>(false);
  int run = order_.Enter();
  runs_.push_back({std::thread([this, domain, dns, ended, run] {
                     std::unique_ptr<DiagnosisNet> net = net_(&cancel_);
                     PostToList out(results_, order_, run, cancel_);
                     RunDiagnosis(domain, dns, *net, out);
                     order_.Leave(run);
                     *ended = true;
                   }),
                   ended});
}

}  // namespace heron::skylark
