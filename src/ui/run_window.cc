#include "ui/run_window.h"

#include <QApplication>

#include "ui/main_window.h"

namespace kestrix {

int RunWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestrix");
  TForm1 window;
  window.show();
  return app.exec();
}

}  // namespace kestrix
