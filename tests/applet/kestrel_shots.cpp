// Pictures of the sheet's pages for the README: opens the sheet on the data
// root of HERON_HOME and saves each page as <folder>/kestrel-<n>.png.
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "applet/applet_host.h"
#include "applet/kestrel_app.h"
#include "platform/registry.h"
#include "service/settings_store.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrel_shots FOLDER\n");
    return 2;
  }
  heron::kestrel::AppletEntry(heron::kestrel::CPL_INIT, 0);
  bool saved = true;
  {
    heron::Registry& registry = heron::Registry::Shared();
    heron::SettingsStore store(registry);
    heron::kestrel::DesktopHost host(registry);
    heron::kestrel::CMailPropertySheet sheet(store, host);
    sheet.show();
    QDir().mkpath(argv[1]);
    for (int i = 0; i < sheet.GetPageCount() && saved; ++i) {
      sheet.SetActivePage(i);
      QApplication::processEvents();
      saved = sheet.grab().save(QStringLiteral("%1/kestrel-%2.png").arg(argv[1]).arg(i + 1));
    }
  }
  heron::kestrel::AppletEntry(heron::kestrel::CPL_EXIT, 0);
  return saved ? 0 : 1;
}
