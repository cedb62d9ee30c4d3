#include "ui/run_window.h"

#include <QApplication>
#include <QLabel>

namespace kestrix {

int RunWindow(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestrix");
  QLabel window("Kestrix");
  window.setWindowTitle(QString("Kestrix ") + KESTRIX_VERSION);
  window.resize(760, 680);
  window.show();
  return app.exec();
}

}  // namespace kestrix
