// Opens an archive in the main window, lets the progress frame fade, and saves a picture of the
// window as the X server shows it (for docs/window.png, run under xvfb-run):
//   window_screenshot <archive> <picture.png> [column to sort by] [row to select and preview]
//                     [export]
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/localization.h"
#include "platform/language.h"
#include "ui/field_tree.h"
#include "ui/main_window.h"
#include "ui/mesh_view.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_screenshot <archive> <picture.png> [sort column] [row]\n");
    return 2;
  }
  kestrix::InitLocalization(kestrix::SystemLanguageId());
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestrix");
  kestrix::TForm1 window;
  window.move(0, 0);
  window.show();
  window.OpenPath(argv[1]);
  if (argc > 3 && std::atoi(argv[3]) >= 0) window.ListView1ColumnClick(std::atoi(argv[3]));
  if (argc > 4) {
    window.resize(1100, 600);
    window.ListView1->selectRow(std::atoi(argv[4]));
    window.WaitForPreview();
    window.MeshPreview->WaitForPicture();  // a mesh's picture is drawn after its preview
    // An object's fields show their first level open.
    for (int i = 0; i < window.FieldPreview->topLevelItemCount(); ++i)
      window.FieldPreview->topLevelItem(i)->setExpanded(true);
  }
  // "export": "Export all files" first, so that the message pane shows what it did.
  if (argc > 5 && std::string(argv[5]) == "export") window.Button2Click();
  int status = 1;
  // The frame fades for a second after the open.
  QTimer::singleShot(1500, [&] {
    QPixmap picture = window.screen()->grabWindow(window.winId());
    status = picture.save(argv[2]) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return status;
}
