#include "ui/run_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "import/standard_converters.h"
#include "platform/console.h"
#include "ui/main_window.h"

namespace kestrix {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int RunWindow(int argc, char** argv) {
  // Without a display Qt would abort; say what is wrong and how to run without a window.
  if (!HasDisplay()) {
    PrintErrorLine(
        "Kestrix: no display to open the window on (DISPLAY is not set). "
        "Run it with a task instead, for example: kestrix export <archive>; "
        "kestrix --help lists the tasks.");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestrix");
  TForm1 window;
  window.SetImportConverters(StandardImportConverters());
  window.show();
  // An archive or folder named on the command line opens once the window is up.
  if (argc >= 2) {
    const std::string path = argv[1];
    QTimer::singleShot(0, &window, [&window, path] { window.OpenPath(path); });
  }
  return app.exec();
}

}  // namespace kestrix
