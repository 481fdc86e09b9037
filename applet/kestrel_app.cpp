#include "applet/kestrel_app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPainter>
#include <QStyle>
#include <QTranslator>
#include <cstring>
#include <memory>

#include "applet/applet_host.h"
#include "applet/pages.h"
#include "applet/store_text.h"
#include "platform/registry.h"
#include "service/service_names.h"
#include "service/settings_store.h"

namespace heron::kestrel {

namespace {

// The applet's icon (resource 100): a letter on a blue ground.
QIcon AppletIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(78, 178, 255));
  p.setPen(QColor(0, 10, 207));
  p.drawRoundedRect(1, 1, 30, 30, 5, 5);
  p.setBrush(Qt::white);
  p.drawRect(6, 9, 20, 14);
  p.drawLine(6, 9, 16, 17);
  p.drawLine(26, 9, 16, 17);
  return QIcon(pm);
}

QIcon StandardIcon(QStyle::StandardPixmap which) {
  return QApplication::style()->standardIcon(which);
}

struct PageRow {
  const char* title;
  const char* description;
  QStyle::StandardPixmap icon;  // stands for the icons 156, 2022, 2021, ...
};

const PageRow kPageRows[7] = {
    {"一般設定", "郵件伺服器基本資料設定、系統記錄檔以及服務之啟動與停止", QStyle::SP_ComputerIcon},
    {"進階設定",
     "設定最大連線限制、連線逾時、密碼修改、遠端管理等，以及執行系統資料備份、回存作業。",
     QStyle::SP_FileDialogDetailedView},
    {"本機網域名稱",
     "SMTP收到信件時，將根據收件者郵件帳號的網域名稱判斷是否為本機帳號，以決定接收、丟棄或轉寄。",
     QStyle::SP_DriveNetIcon},
    {"外寄郵件設定",
     "若您允許寄送外部郵件，請提供必要之 DNS 資料，供系統查詢收件者之郵件主機位置，以便傳遞信件。",
     QStyle::SP_ArrowForward},
    {"郵件帳號",
     "新增帳號之後，請提供郵件主機位址、帳號以及預設密碼給使用者，再由使用者自行修改密碼。",
     QStyle::SP_DirHomeIcon},
    {"轉寄規則",
     "設定轉寄的郵件規則，例如 sales@example.com.tw 轉寄到 "
     "amy@example.com.tw，支援萬用字元。",
     QStyle::SP_BrowserReload},
    {"封鎖垃圾郵件", "根據寄件者的來源 IP 或是帳號判斷是否要接受連線或接收信件，支援萬用字元。",
     QStyle::SP_MessageBoxWarning},
};

tagCPropSheetItem ItemOf(int page) {
  const PageRow& row = kPageRows[page];
  return {StandardIcon(row.icon), QString::fromUtf8(row.title), QString::fromUtf8(row.description),
          QApplication::palette().color(QPalette::Base), 0};
}

// The application object: the Qt application when the host has none, and
// the Traditional Chinese texts of Qt's own buttons.
class KestrelApp {
 public:
  bool InitInstance() {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "kestrel";
      static char* argv[] = {name, nullptr};
      own_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setWindowIcon(AppletIcon());
    if (translator_.load(QLocale(QLocale::Chinese, QLocale::Taiwan), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QApplication::installTranslator(&translator_);
    }
    QFont font = QApplication::font();
    font.setFamilies({"Noto Sans CJK TC", "WenQuanYi Micro Hei", font.family()});
    QApplication::setFont(font);
    return true;
  }
  void ExitInstance() {
    QApplication::removeTranslator(&translator_);
    own_.reset();
  }

 private:
  std::unique_ptr<QApplication> own_;
  QTranslator translator_;
};

// Lives as long as the library is loaded: never destroyed at exit, when Qt's
// own globals may already be gone; CPL_EXIT lets the Qt application go.
KestrelApp& TheApp() {
  static KestrelApp* app = new KestrelApp;
  return *app;
}

int OpenSheet() {
  try {
    Registry& registry = Registry::Shared();
    SettingsStore store(registry);
    DesktopHost host(registry);
    RunMailSheet(store, host);
  } catch (const RegistryError& e) {
    QMessageBox::critical(nullptr, AppletName(), QString::fromUtf8(e.what()));
  }
  return 0;
}

void CopyBig5(char* to, size_t size, const char* utf8) {
  std::string text = Utf8ToBig5(utf8);
  std::strncpy(to, text.c_str(), size - 1);
  to[size - 1] = '\0';
}

}  // namespace

const char* LoadAppletString(int32_t id) {
  switch (id) {
    case kStringName:
      return "Heron Mail Server";
    case kStringInfo:
    case kStringCaption:
      return "Heron Mail Server 4.2 控制台";
    case 2004:
      return "Windows sockets initialization failed.";
  }
  return "";
}

CMailPropertySheet::CMailPropertySheet(SettingsStore& store, AppletHost& host, QWidget* parent)
    : CMyPropertySheet(QString::fromUtf8(LoadAppletString(kStringCaption)), parent) {
  adjust_buttons = false;
  setWindowIcon(AppletIcon());
  setMinimumWidth(700);  // all seven tabs in one row
  // Made in the design's order; added in tab order.
  general_ = new CGeneralPage(store, host);
  advanced_ = new CAdvancedPage(store, host);
  relay_ = new CRelayPage(store, host);
  ip_filter_ = new CIpFilterPage(store, host);
  domains_ = new CDomainsPage(store, host);
  accounts_ = new CUserAccountPage(store, host);
  forward_rules_ = new CForwardRulesPage(store, host);
  CPropertyPage* order[7] = {general_,  advanced_,      domains_,  relay_,
                             accounts_, forward_rules_, ip_filter_};
  for (int i = 0; i < 7; ++i) AddPage(order[i], ItemOf(i));
  // Apply and an OK each tell the service once.
  connect(this, &CMyPropertySheet::applied, this, [&host] { host.SetEvent(kReloadEventName); });
  connect(this, &QDialog::accepted, this, [&host] { host.SetEvent(kReloadEventName); });
}

int RunMailSheet(SettingsStore& store, AppletHost& host) {
  CMailPropertySheet sheet(store, host);
  return sheet.exec();
}

int32_t AppletEntry(uint32_t msg, intptr_t lparam2) {
  switch (msg) {
    case CPL_INIT:
      return TheApp().InitInstance() ? 1 : 0;
    case CPL_GETCOUNT:
      return 1;
    case CPL_INQUIRE: {
      auto* info = reinterpret_cast<CPLINFO*>(lparam2);
      if (info) *info = {kIconApplet, kStringName, kStringInfo, 0};
      return 0;
    }
    case CPL_SELECT:
      return 1;
    case CPL_DBLCLK:
    case CPL_STARTWPARMS:
      return OpenSheet();
    case CPL_STOP:
      return 1;
    case CPL_EXIT:
      TheApp().ExitInstance();
      return 0;
    case CPL_NEWINQUIRE: {
      auto* info = reinterpret_cast<NEWCPLINFOA*>(lparam2);
      if (!info) return 0;
      std::memset(info, 0, sizeof(*info));
      info->dwSize = sizeof(NEWCPLINFOA);
      info->hIcon = kIconApplet;
      CopyBig5(info->szName, sizeof(info->szName), LoadAppletString(kStringName));
      CopyBig5(info->szInfo, sizeof(info->szInfo), LoadAppletString(kStringInfo));
      return 0;
    }
    default:
      return 1;
  }
}

}  // namespace heron::kestrel
