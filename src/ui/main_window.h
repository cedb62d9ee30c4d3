// The main window: open, the contained-file chooser, the virtual list with sorting and its
// popup menu, the export commands with their progress frame, and the search bar. The window
// owns the session; every command calls an operation on it through the frontend seam.
#pragma once

#include <QColor>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/requests.h"
#include "core/session.h"
#include "export/entry_preview.h"
#include "import/import_driver.h"
#include "import/importer.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;
class QPlainTextEdit;
class QThreadPool;
class QTimer;

namespace kestrix {

class FileSource;
class MessagePane;

class FieldTreeView;
class FontView;
class ListModel;
class MeshView;
class SoundView;
class TForm1;
struct ObjectFields;

// What operations show the user, through the window.
class WindowFrontend : public Frontend {
 public:
  explicit WindowFrontend(TForm1& form) : form_(form) {}
  void ShowProgress(int percent) override;
  void ProcessMessages() override;
  void MessageBox(const std::string& text) override;
  void ErrorBox(const std::string& text) override;
  void ConsoleLine(const std::string&) override {}
  void EnableCommands(bool enabled) override;
  void FillChooser(const std::vector<std::string>& names, int selected) override;

 private:
  TForm1& form_;
};

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Controls, under the names the rest of the program and the tests know them by.
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QTableView* ListView1 = nullptr;
  QFrame* TabControl1 = nullptr;
  QRadioButton* ModeSN = nullptr;
  QRadioButton* ModeST = nullptr;
  QLineEdit* Find_Text = nullptr;
  QPushButton* Find_Next = nullptr;
  QPushButton* Find_Pred = nullptr;
  QPushButton* Items_Select = nullptr;
  QCheckBox* Match_Case = nullptr;
  QCheckBox* Loop_Search = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* BtnExportSelOriginal = nullptr;
  QAction* BtnExportSelSource = nullptr;
  QAction* BtnExportJson = nullptr;  // what "-t json" writes, for the selected rows
  QAction* BtnSelAll = nullptr;
  QTimer* Timer1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  // The preview pane beside the list: a caption, and a picture or a text.
  QFrame* PreviewPane = nullptr;
  QLabel* PreviewCaption = nullptr;
  QLabel* PreviewPicture = nullptr;
  QPlainTextEdit* PreviewText = nullptr;
  MeshView* MeshPreview = nullptr;
  FontView* FontPreview = nullptr;
  SoundView* SoundPreview = nullptr;
  // An object with a known layout: its fields as a tree.
  FieldTreeView* FieldPreview = nullptr;
  // "Export converted files" also writes PNG pictures of textures when checked.
  QAction* BtnExportPng = nullptr;
  // Commands with their keys, in the list's popup menu and working anywhere in the window.
  QAction* ActOpen = nullptr;
  QAction* ActFind = nullptr;
  QAction* ActFindNext = nullptr;
  QAction* ActFindPrev = nullptr;
  QAction* ActExportAll = nullptr;
  QAction* ActImportAll = nullptr;
  QAction* ActOpenFolder = nullptr;
  // "Open folder": the button beside the others, and the archives of the folder in a tree
  // beside the list (shown while a folder is open); choosing one opens it.
  QToolButton* OpenFolderButton = nullptr;
  QTreeWidget* ArchiveTree = nullptr;
  // The class filter above the list ("All", "AudioClip", "Texture2D", ...).
  QComboBox* TypeFilter = nullptr;
  // Status of the last export or import, and the messages of every operation.
  MessagePane* Messages = nullptr;

  Session& session() { return session_; }
  // The importers "Import all files" runs (the program gives the standard set).
  void SetImportConverters(const ImportConverters& converters) { import_converters_ = converters; }
  Frontend& frontend() { return frontend_; }
  ListModel& model() { return *model_; }

  // Opens an archive: what the open dialog, a dropped file and a start-up path all run. A
  // folder opens as a game folder (OpenFolder).
  void OpenPath(const std::string& path);
  // Lists the archives of a game folder and below in the tree beside the list.
  void OpenFolder(const std::string& folder);
  const std::string& OpenFolderPath() const { return folder_; }
  // Progress of open, export and import (0 to 100); the frame takes the matching colour.
  void ShowProgress(int percent);
  QColor FrameColor() const { return frame_color_; }
  int FadeCounter() const { return fade_counter_; }

  // True while open or an export runs; nothing that starts another operation is accepted.
  bool Busy() const { return busy_depth_ > 0; }
  void EnableCommands(bool enabled);
  void FillChooser(const std::vector<std::string>& names, int selected);

  // Messages and errors go to the message pane, and also here when set (tests record them).
  using BoxSink = std::function<void(bool error, const std::string& text)>;
  void SetBoxSink(BoxSink sink) { box_sink_ = std::move(sink); }
  void ShowBox(bool error, const std::string& text);

  // The window's size for a screen of this size (small screens get a smaller window).
  void ApplySizeRules(const QSize& screen);

  // Selected rows in row order, and the focused row (-1 when none).
  std::vector<int> SelectedRows() const;
  int FocusedRow() const;
  // Waits for a preview being made off the window's thread (tests, and before the session
  // changes). The preview counter counts the previews shown.
  void WaitForPreview();
  int PreviewsShown() const { return previews_shown_; }
  // The entry the preview shows or is being made for (-1: none).
  int64_t PreviewEntry() const { return preview_entry_; }
  // The archive name shown in the title ("" when nothing is open).
  const std::string& OpenArchiveName() const { return open_name_; }

 public slots:
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void ComboBox1Click(int index);
  void ListView1ColumnClick(int column);
  void BtnExportSelOriginalClick();
  void BtnExportSelSourceClick();
  void BtnExportJsonClick();
  void BtnSelAllClick();
  void Timer1Timer();
  void Find_NextClick();
  void Find_PredClick();
  void Items_SelectClick();
  void ModeSNClick();
  void ModeSTClick();
  void TypeFilterChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class BusyScope;

  // The archive opened for a data search; a box shows why when it cannot be opened.
  std::unique_ptr<FileSource> OpenForDataSearch();

  void FormCreate();
  void CreateControls();
  void CreateActions();
  void SetCaptions();
  void LayoutControls();
  void PlaceLabels();
  void PlaceSearchBar();
  int SearchBarHeight() const;
  void FitColumns();
  void FitTopButtons();
  void UpdateCommands();
  bool CanUseList() const;
  bool ListView1MouseDown(Qt::MouseButton button, const QPoint& pos);
  void ClampColumn(int column, int width);

  void RunOpen(const std::function<void()>& open);
  void OpenArchiveOfTree(QTreeWidgetItem* item);
  void OpenFolderClick();
  void ShowOpenedArchive();
  void UpdateTitle();
  void ExportSelection(void (*set_switches)(ExportSwitches&));
  void RunExport(const ExportRequest& request, const std::vector<size_t>& entries,
                 bool process_messages, const std::string& what);
  void ReportImport(const ImportResult& result, bool finished);
  void FillTypeFilter();
  // The entries of the selected rows and of the focused row, and the same selection again
  // after the rows were reordered or filtered.
  struct SelectedEntries {
    std::vector<int32_t> numbers;
    int32_t focused = 0;
  };
  SelectedEntries RememberSelection() const;
  void RestoreSelection(const SelectedEntries& selected);
  void ClearPreview();

  void FindStep(int start, bool backward);
  void SetFocusedRow(int row);
  void SelectRow(int row);
  void PreviewSelection();
  // `fitted`: a picture's pixels as the pane shows them.
  void ShowPreview(int generation, const EntryPreview& preview, const QImage& fitted,
                   const std::shared_ptr<const ObjectFields>& fields);
  bool ShowPreviewView(const EntryPreview& preview,
                       const std::shared_ptr<const ObjectFields>& fields);

  void SetFrameColor(double x);
  QRect FrameRect() const;

  Session session_;
  WindowFrontend frontend_;
  ImportConverters import_converters_;
  ListModel* model_ = nullptr;
  BoxSink box_sink_;
  int busy_depth_ = 0;
  bool archive_open_ = false;
  int one_row_width_ = 0;
  std::string folder_;  // the game folder the tree shows ("" when none)
  int64_t preview_entry_ = -1;
  QStringList type_texts_;
  std::string open_name_;
  QColor frame_color_;
  int fade_counter_ = 100;
  QThreadPool* preview_pool_ = nullptr;
  int preview_generation_ = 0;
  int previews_shown_ = 0;
};

}  // namespace kestrix
