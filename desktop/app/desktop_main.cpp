#include "desktop/app/desktop_main.h"

#include <QApplication>

#include "desktop/app/termination_signal.h"
#include "desktop/app/traffic_app.h"
#include "engine/capture_privileges.h"
#include "desktop/window/main_dlg.h"

int RunDesktop(int argc, char** argv) {
  // The desktop can start a live trace at any moment; say it once up front.
  CCapturePrivileges::WarnIfRoot();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Trafalyn"));
  QApplication::setOrganizationName(QStringLiteral("Ostvane"));
  // The installed menu entry's name, by which Wayland compositors find the
  // window's icon and title.
  QApplication::setDesktopFileName(QStringLiteral("io.ostvane.Trafalyn"));
  QApplication::setApplicationVersion(CTrafficApp::ReadVersionText());

  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();

  CTrafficApp app;
  app.InitInstance(arguments);
  // SIGTERM and SIGINT end the program as the tray's Quit does, Close to
  // tray or not; the final log pass and the orderly shutdown still happen.
  CTerminationSignal termination([&app] {
    if (app.MainWindow() != nullptr) app.MainWindow()->Quit();
  });
  const int status = app.Run();
  app.ExitInstance();
  return status;
}
