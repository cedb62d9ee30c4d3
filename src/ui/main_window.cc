#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <numeric>

#include "core/list_row.h"
#include "core/localization.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "import/standard_converters.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "types/detect_platform.h"
#include "ui/font_view.h"
#include "ui/list_model.h"
#include "ui/list_sort.h"
#include "ui/mesh_view.h"
#include "ui/preview_picture.h"
#include "ui/search.h"
#include "ui/sound_view.h"

namespace kestrix {

namespace {

constexpr int kBarHeight = 45;  // TabControl1
const QColor kWindowColor(157, 185, 235);

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Caption(int key) { return Q(Str(key)); }

// Paths travel as the file system's bytes, not as display text.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

struct ColumnLimits {
  int width, min, max;
};
// Column 1 ("Name") fills what the others leave.
constexpr ColumnLimits kColumns[kListColumnCount] = {
    {41, 30, 50}, {0, 70, INT_MAX}, {200, 55, 256}, {73, 73, 100}, {100, 100, 100}};

void SetExportAllSwitches(ExportSwitches& sw) {
  sw.ExportSource = sw.ExportRawTextures = sw.ExportDds = sw.ExportCrn = sw.ExportPvr = true;
  sw.ExportRawAudio = sw.ExportRawMeshes = sw.ExportObj = true;
}

void SetSelectedOriginalSwitches(ExportSwitches& sw) {
  sw.ExportSource = false;
  sw.ExportRawTextures = sw.ExportRawAudio = sw.ExportRawMeshes = true;
}

void SetSelectedSourceSwitches(ExportSwitches& sw) {
  sw.ExportSource = sw.ExportDds = sw.ExportCrn = sw.ExportPvr = sw.ExportObj = true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Frontend

void WindowFrontend::ShowProgress(int percent) { form_.ShowProgress(percent); }
void WindowFrontend::ProcessMessages() { QCoreApplication::processEvents(); }
void WindowFrontend::MessageBox(const std::string& text) { form_.ShowBox(false, text); }
void WindowFrontend::ErrorBox(const std::string& text) { form_.ShowBox(true, text); }
void WindowFrontend::EnableCommands(bool enabled) { form_.EnableCommands(enabled); }
void WindowFrontend::FillChooser(const std::vector<std::string>& names, int selected) {
  form_.FillChooser(names, selected);
}

// While an operation runs, the window keeps handling events (progress, repaint); everything
// that could start another operation is refused until it ends.
class TForm1::BusyScope {
 public:
  explicit BusyScope(TForm1& form) : form_(form) {
    ++form_.busy_depth_;
    form_.UpdateCommands();
  }
  ~BusyScope() {
    --form_.busy_depth_;
    form_.UpdateCommands();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TForm1& form_;
};

// ---------------------------------------------------------------------------------------------
// Creation and layout

TForm1::TForm1(QWidget* parent) : QWidget(parent), frontend_(*this) {
  setObjectName("Form1");
  // The designed places fit an 8-point font; the system family takes the designed size.
  QFont designed = font();
  designed.setPointSize(8);
  setFont(designed);
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() {
  WaitForPreview();
  CloseArchive(session_);
}

void TForm1::CreateControls() {
  auto button = [this](QPushButton*& b, const char* name, QRect place, QWidget* parent) {
    b = new QPushButton(parent);
    b->setObjectName(name);
    b->setGeometry(place);
  };
  button(Button1, "Button1", {8, 5, 129, 25}, this);
  button(Button2, "Button2", {144, 5, 129, 25}, this);
  button(Button3, "Button3", {280, 5, 129, 25}, this);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(7, 37, 402, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  auto label = [this](QLabel*& l, const char* name, QPoint at) {
    l = new QLabel(this);
    l->setObjectName(name);
    l->move(at);
  };
  label(Label1, "Label1", {424, 0});
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label(Label2, "Label2", {424, 39});
  label(Label3, "Label3", {528, 39});
  label(Label4, "Label4", {704, 39});

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Click);

  model_ = new ListModel(this);
  ListView1 = new QTableView(this);
  ListView1->setObjectName("ListView1");
  ListView1->setModel(model_);
  ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setShowGrid(true);
  ListView1->setWordWrap(false);
  ListView1->setSortingEnabled(false);
  ListView1->setTabKeyNavigation(false);
  ListView1->verticalHeader()->hide();
  ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 4);
  // The selection stays visible while the search bar has the focus.
  QPalette list_palette = ListView1->palette();
  list_palette.setColor(QPalette::Inactive, QPalette::Highlight,
                        list_palette.color(QPalette::Active, QPalette::Highlight));
  list_palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                        list_palette.color(QPalette::Active, QPalette::HighlightedText));
  ListView1->setPalette(list_palette);
  QHeaderView* header = ListView1->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(30);
  for (int c = 0; c < kListColumnCount; ++c)
    if (c != kColumnName) header->resizeSection(c, kColumns[c].width);
  header->setSectionResizeMode(kColumnName, QHeaderView::Stretch);
  header->setSectionResizeMode(kColumnOffset, QHeaderView::Fixed);
  connect(header, &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
  connect(header, &QHeaderView::sectionResized, this,
          [this](int column, int, int width) { ClampColumn(column, width); });
  ListView1->viewport()->installEventFilter(this);

  TabControl1 = new QFrame(this);
  TabControl1->setObjectName("TabControl1");
  TabControl1->setFrameShape(QFrame::StyledPanel);
  TabControl1->setAutoFillBackground(true);
  TabControl1->setPalette(QApplication::palette());
  auto radio = [this](QRadioButton*& r, const char* name, QRect place) {
    r = new QRadioButton(TabControl1);
    r->setObjectName(name);
    r->setGeometry(place);
  };
  radio(ModeSN, "ModeSN", {8, 4, 89, 17});
  radio(ModeST, "ModeST", {8, 24, 89, 17});
  ModeSN->setChecked(true);
  connect(ModeSN, &QRadioButton::clicked, this, &TForm1::ModeSNClick);
  connect(ModeST, &QRadioButton::clicked, this, &TForm1::ModeSTClick);
  Find_Text = new QLineEdit(TabControl1);
  Find_Text->setObjectName("Find_Text");
  Find_Text->setGeometry(104, 12, 153, 21);
  connect(Find_Text, &QLineEdit::returnPressed, this, &TForm1::Find_NextClick);
  button(Find_Next, "Find_Next", {265, 10, 129, 25}, TabControl1);
  button(Find_Pred, "Find_Pred", {401, 10, 129, 25}, TabControl1);
  button(Items_Select, "Items_Select", {536, 10, 130, 25}, TabControl1);
  auto check = [this](QCheckBox*& c, const char* name, QRect place) {
    c = new QCheckBox(TabControl1);
    c->setObjectName(name);
    c->setGeometry(place);
  };
  check(Match_Case, "Match_Case", {673, 4, 144, 17});
  check(Loop_Search, "Loop_Search", {672, 24, 121, 17});

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  BtnExportSelOriginal = PopupMenu1->addAction(QString());
  BtnExportSelOriginal->setObjectName("BtnExportSelOriginal");
  BtnExportSelSource = PopupMenu1->addAction(QString());
  BtnExportSelSource->setObjectName("BtnExportSelSource");
  BtnSelAll = PopupMenu1->addAction(QString());
  BtnSelAll->setObjectName("BtnSelAll");
  BtnExportPng = PopupMenu1->addAction(QString());
  BtnExportPng->setObjectName("BtnExportPng");
  BtnExportPng->setCheckable(true);

  PreviewPane = new QFrame(this);
  PreviewPane->setObjectName("PreviewPane");
  PreviewPane->setFrameShape(QFrame::StyledPanel);
  PreviewCaption = new QLabel(PreviewPane);
  PreviewCaption->setObjectName("PreviewCaption");
  PreviewPicture = new QLabel(PreviewPane);
  PreviewPicture->setObjectName("PreviewPicture");
  PreviewPicture->setAlignment(Qt::AlignCenter);
  PreviewText = new QPlainTextEdit(PreviewPane);
  PreviewText->setObjectName("PreviewText");
  PreviewText->setReadOnly(true);
  PreviewText->setLineWrapMode(QPlainTextEdit::NoWrap);
  PreviewText->hide();
  MeshPreview = new MeshView(PreviewPane);
  FontPreview = new FontView(PreviewPane);
  SoundPreview = new SoundView(PreviewPane);
  // One preview at a time is made off the window's thread; a newer selection outdates it.
  preview_pool_ = new QThreadPool(this);
  preview_pool_->setMaxThreadCount(1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(10);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName("OpenDialog1");
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setDirectory(".");
  // The last pattern is any name of exactly 32 characters (the hashed names of bundles).
  OpenDialog1->setNameFilters(
      {"UnityArchive (*.asset* level* mainData globalgamemanagers *.unity3d *AssetBundle* "
       "*.bundle* *.assetbundle *.dat *data* *.TEMP *.split0 *CAB* " +
           QString(32, QChar('?')) + ")",
       "ALL (*)"});

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(BtnExportSelOriginal, &QAction::triggered, this, &TForm1::BtnExportSelOriginalClick);
  connect(BtnExportSelSource, &QAction::triggered, this, &TForm1::BtnExportSelSourceClick);
  connect(BtnSelAll, &QAction::triggered, this, &TForm1::BtnSelAllClick);
  connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { PreviewSelection(); });
  connect(Find_Next, &QPushButton::clicked, this, &TForm1::Find_NextClick);
  connect(Find_Pred, &QPushButton::clicked, this, &TForm1::Find_PredClick);
  connect(Items_Select, &QPushButton::clicked, this, &TForm1::Items_SelectClick);
}

void TForm1::FormCreate() {
  SetCaptions();
  QScreen* screen = QGuiApplication::primaryScreen();
  ApplySizeRules(screen != nullptr ? screen->size() : QSize(1920, 1080));
  fade_counter_ = 100;
  frame_color_ = kWindowColor;
  QPalette window_palette = palette();
  window_palette.setColor(QPalette::Window, kWindowColor);
  setPalette(window_palette);
  setAutoFillBackground(true);
  setAcceptDrops(true);
  UpdateCommands();
  UpdateTitle();
}

void TForm1::SetCaptions() {
  Button1->setText(Caption(kStrOpenArchive));
  Button2->setText(Caption(kStrExportAll));
  Button3->setText(Caption(kStrImportAll));
  ModeSN->setText(Caption(kStrSearchName));
  ModeST->setText(Caption(kStrSearchText));
  Find_Next->setText(Caption(kStrFindNext));
  Find_Pred->setText(Caption(kStrFindPred));
  Items_Select->setText(Caption(kStrItemsSelect));
  Match_Case->setText(Caption(kStrMatchCase));
  Loop_Search->setText(Caption(kStrLoopSearch));
  Label1->setText(Caption(kStrArchive));
  Label2->setText(Caption(kStrSize));
  Label3->setText(Caption(kStrVersion));
  Label4->setText(Caption(kStrFiles));
  model_->CaptionsChanged();
  BtnExportSelOriginal->setText(Caption(kStrExportSelected));
  BtnExportSelSource->setText(Caption(kStrExportSource));
  BtnSelAll->setText(Caption(kStrSelectAll));
  BtnExportPng->setText(InterfaceIsRussian() ? QString::fromUtf8("Текстуры также картинками PNG")
                                             : QString("Textures also as PNG pictures"));
  FitTopButtons();
  PlaceSearchBar();
  PlaceLabels();
}

void TForm1::FitTopButtons() {
  // The three buttons keep their designed width (the progress bar and the labels line up with
  // them); a caption that does not fit gets a smaller font instead.
  for (QPushButton* b : {Button1, Button2, Button3}) {
    QFont f = font();
    b->setFont(f);
    while (b->sizeHint().width() > b->width() && f.pointSize() > 6) {
      f.setPointSize(f.pointSize() - 1);
      b->setFont(f);
    }
  }
}

void TForm1::PlaceSearchBar() {
  // The designed places suit the designed font; a wider system font or the longer Russian
  // captions widen a control and push the ones after it right instead of covering them.
  auto widen = [](QWidget* w) {
    w->resize(std::max(w->width(), w->sizeHint().width()), w->height());
  };
  for (QWidget* w : std::initializer_list<QWidget*>{ModeSN, ModeST, Find_Next, Find_Pred,
                                                    Items_Select, Match_Case, Loop_Search})
    widen(w);
  auto right = [](QWidget* w) { return w->x() + w->width(); };
  Find_Text->move(std::max(104, std::max(right(ModeSN), right(ModeST)) + 7), Find_Text->y());
  Find_Next->move(std::max(265, right(Find_Text) + 8), Find_Next->y());
  Find_Pred->move(std::max(401, right(Find_Next) + 7), Find_Pred->y());
  Items_Select->move(std::max(536, right(Find_Pred) + 6), Items_Select->y());
  Match_Case->move(std::max(673, right(Items_Select) + 7), Match_Case->y());
  Loop_Search->move(std::max(672, right(Items_Select) + 6), Loop_Search->y());
}

void TForm1::ApplySizeRules(const QSize& screen) {
  const int button3_right = Button3->x() + Button3->width();
  int width = Label4->x() + Label4->width() + 80;
  int height = 768;
  if (screen.width() <= 800 && width > 800) width = button3_right + 15;
  if (screen.height() <= 768 && height > 600) height = screen.height() - 168;
  resize(width, height);
  LayoutControls();
}

void TForm1::LayoutControls() {
  const int w = width();
  const int h = height();
  TabControl1->setGeometry(0, h - kBarHeight, w, kBarHeight);
  const int list_top = ProgressBar1->y() + ProgressBar1->height() + 9;
  const int list_height = std::max(0, TabControl1->y() - list_top);
  // Small windows keep the whole width for the list; the pane shows from 640 pixels on.
  const int pane = w >= 640 ? std::min(360, w / 3) : 0;
  PreviewPane->setVisible(pane > 0);
  ListView1->setGeometry(0, list_top, w - pane, list_height);
  PreviewPane->setGeometry(w - pane, list_top, pane, list_height);
  PreviewCaption->setGeometry(6, 4, pane - 12, 18);
  PreviewPicture->setGeometry(4, 26, pane - 8, std::max(0, list_height - 30));
  PreviewText->setGeometry(4, 26, pane - 8, std::max(0, list_height - 30));
  for (QWidget* view : {static_cast<QWidget*>(MeshPreview), static_cast<QWidget*>(FontPreview),
                        static_cast<QWidget*>(SoundPreview)})
    view->setGeometry(PreviewText->geometry());
  // A caption wider than the designed label pushes the chooser right instead of under it.
  const int chooser_left = std::max(464, Label1->x() + Label1->sizeHint().width() + 2);
  ComboBox1->setGeometry(chooser_left, 6, std::max(0, w - chooser_left - 8), 22);
}

void TForm1::PlaceLabels() {
  Label1->resize(std::max(36, Label1->sizeHint().width()), 33);
  for (QLabel* l : {Label2, Label3, Label4}) l->adjustSize();
  // Designed places, unless the text before would run into the next label.
  Label3->move(std::max(528, Label2->x() + Label2->width() + 12), 39);
  Label4->move(std::max(704, Label3->x() + Label3->width() + 12), 39);
  LayoutControls();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutControls();
}

void TForm1::ClampColumn(int column, int width) {
  if (column < 0 || column >= kListColumnCount || column == kColumnName) return;
  const int clamped = std::clamp(width, kColumns[column].min, kColumns[column].max);
  if (clamped != width) ListView1->horizontalHeader()->resizeSection(column, clamped);
}

// ---------------------------------------------------------------------------------------------
// Command states

void TForm1::UpdateCommands() {
  const bool idle = !Busy();
  const Session& s = session_;
  const bool has_objects = archive_open_ && (s.Asset.ObjectCount != 0 || s.Asset.RawSingleFile);
  Button1->setEnabled(idle);
  Button2->setEnabled(idle && has_objects);
  Button3->setEnabled(idle && archive_open_ && s.Asset.ObjectCount != 0 && !s.Asset.RawSingleFile);
  ComboBox1->setEnabled(idle);
  Find_Next->setEnabled(idle);
  Find_Pred->setEnabled(idle);
  Items_Select->setEnabled(idle);
}

void TForm1::EnableCommands(bool enabled) {
  if (enabled) {
    if (busy_depth_ > 0) --busy_depth_;
  } else {
    ++busy_depth_;
  }
  UpdateCommands();
}

bool TForm1::CanUseList() const {
  return !Busy() && model_->rowCount() > 0 && Button2->isEnabled();
}

void TForm1::FillChooser(const std::vector<std::string>& names, int selected) {
  const QSignalBlocker blocker(ComboBox1);
  ComboBox1->clear();
  for (const std::string& name : names) ComboBox1->addItem(Q(name));
  ComboBox1->setCurrentIndex(selected >= 0 && selected < ComboBox1->count() ? selected : -1);
}

void TForm1::ShowBox(bool error, const std::string& text) {
  if (box_sink_) {
    box_sink_(error, text);
  } else if (error) {
    QMessageBox::critical(this, "Kestrix", Q(text));
  } else {
    QMessageBox::information(this, "Kestrix", Q(text));
  }
}

void TForm1::UpdateTitle() {
  QString title = QString("Kestrix ") + KESTRIX_VERSION;
  if (!open_name_.empty()) title += " - " + Q(open_name_);
  setWindowTitle(title);
}

// ---------------------------------------------------------------------------------------------
// Open

void TForm1::Button1Click() {
  if (Busy()) return;
  if (OpenDialog1->exec() != QDialog::Accepted) return;
  const QStringList files = OpenDialog1->selectedFiles();
  if (files.isEmpty()) return;
  OpenPath(LocalPath(files.first()));
}

void TForm1::OpenPath(const std::string& path) {
  if (Busy()) return;
  // The archive open until now, with its temporary files, goes when the new one is read (it
  // may be the very file the user opens now).
  BusyScope busy(*this);
  RunOpen([&] { OpenArchive(session_, frontend_, path, OpenOptions()); });
  open_name_ = archive_open_ ? FileNameOf(path) : std::string();
  UpdateTitle();
}

void TForm1::ComboBox1Click(int index) {
  if (Busy() || !archive_open_ || index < 0) return;
  BusyScope busy(*this);
  RunOpen([&] { ReopenWithSelection(session_, frontend_, index, OpenOptions()); });
  if (!archive_open_) open_name_.clear();
  UpdateTitle();
}

void TForm1::RunOpen(const std::function<void()>& open) {
  WaitForPreview();  // the session is about to change under it
  // The naming pass empties the row cache while the window still paints, so the list lets go
  // of its rows first.
  if (model_->rowCount() > 0) {
    ListView1->clearSelection();
    ListView1->scrollToTop();
  }
  model_->SetRows({});
  archive_open_ = false;
  try {
    open();
    archive_open_ = true;
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
  }
  if (archive_open_) {
    ShowOpenedArchive();
    return;
  }
  // A failed open leaves nothing half-read behind: no rows, no commands on a partial table,
  // and no temporary files of its own.
  CloseArchive(session_);
  FillChooser({}, 0);
  Label1->setText(Caption(kStrArchive));
  Label2->setText(Caption(kStrSize));
  Label3->setText(Caption(kStrVersion));
  Label4->setText(Caption(kStrFiles));
  PlaceLabels();
}

void TForm1::ShowOpenedArchive() {
  const Session& s = session_;
  const SerializedFile& f = s.Asset;
  model_->SetRows(BuildListRows(s));
  if (f.RawSingleFile) {
    Label2->setText(Caption(kStrSize) + QString::number(s.PayloadSize(0)));
    Label3->setText(Caption(kStrVersion) + Q(f.ShownKind));
    Label4->setText(Caption(kStrFiles) + "1");
  } else {
    Label1->setText(Caption(kStrArchive));
    // Control characters of the version text show as "|"; the file's own text stays as read.
    std::string version = f.UnityVersion;
    for (char& c : version)
      if (c >= 1 && c <= 31) c = '|';
    Label2->setText(Caption(kStrSize) + QString::number(f.AssetFileSize));
    Label3->setText(Caption(kStrVersion) + Q(version) + Caption(kStrId) +
                    QString::number(f.FormatVersion) + " " + Q(PlatformName(f.Platform)));
    Label4->setText(Caption(kStrFiles) + QString::number(f.ObjectCount));
  }
  PlaceLabels();
  Timer1->start();
}

// ---------------------------------------------------------------------------------------------
// The list: sorting, popup menu, selection

void TForm1::ListView1ColumnClick(int column) {
  if (!CanUseList()) return;
  SortListRows(model_->Rows(), session_, column);
  model_->RowsChanged();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* press = static_cast<QMouseEvent*>(event);
    ListView1MouseDown(press->button(), press->position().toPoint());
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::ListView1MouseDown(Qt::MouseButton button, const QPoint& pos) {
  if (button != Qt::RightButton || !CanUseList()) return false;
  PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos));
  return true;
}

void TForm1::BtnSelAllClick() {
  if (!CanUseList()) return;
  ListView1->selectAll();
}

std::vector<int> TForm1::SelectedRows() const {
  std::vector<int> rows;
  for (const QItemSelectionRange& range : ListView1->selectionModel()->selection())
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

int TForm1::FocusedRow() const {
  const QModelIndex current = ListView1->selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TForm1::SetFocusedRow(int row) {
  const QModelIndex index = model_->index(row, 0);
  ListView1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  ListView1->scrollTo(index);
}

void TForm1::SelectRow(int row) {
  ListView1->selectionModel()->select(model_->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// ---------------------------------------------------------------------------------------------
// Export

void TForm1::Button2Click() {
  if (Busy() || !Button2->isEnabled()) return;
  std::vector<size_t> entries(session_.EntryCount());
  std::iota(entries.begin(), entries.end(), size_t{0});
  ExportRequest request;
  SetExportAllSwitches(request.Switches);
  RunExport(request, entries, true);
}

void TForm1::BtnExportSelOriginalClick() { ExportSelection(SetSelectedOriginalSwitches); }

void TForm1::BtnExportSelSourceClick() { ExportSelection(SetSelectedSourceSwitches); }

void TForm1::ExportSelection(void (*set_switches)(ExportSwitches&)) {
  if (!CanUseList()) return;
  std::vector<size_t> entries;
  for (int r : SelectedRows()) {
    const size_t row = static_cast<size_t>(r);
    if (row < model_->Rows().size())
      entries.push_back(static_cast<size_t>(model_->Rows()[row].Number - 1));
  }
  if (entries.empty()) return;
  ExportRequest request;
  set_switches(request.Switches);
  if (set_switches == SetSelectedSourceSwitches && BtnExportPng->isChecked())
    request.Switches.ExportPng = true;
  // The selection runs do not let the window handle events; they are short.
  RunExport(request, entries, false);
}

void TForm1::RunExport(const ExportRequest& request, const std::vector<size_t>& entries,
                       bool process_messages) {
  BusyScope busy(*this);
  bool finished = false;
  try {
    ExportEntries(session_, request, frontend_, entries, process_messages);
    finished = true;
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
  }
  if (finished) Timer1->start();
}

// ---------------------------------------------------------------------------------------------
// Import

void TForm1::Button3Click() {
  if (Busy() || !Button3->isEnabled()) return;
  bool finished = false;
  {
    BusyScope busy(*this);
    try {
      ImportRequest request;
      WaitForPreview();
      ImportAll(session_, request, frontend_, import_converters_);
      finished = true;
    } catch (const std::exception& e) {
      // The archive and the session are as they were; the message says what failed.
      ShowBox(true, e.what());
    }
  }
  // Every row again from its entry, in the order the list shows: offsets, sizes and texture
  // formats may have changed.
  for (ListRow& row : model_->Rows())
    FillListRow(session_, static_cast<size_t>(row.Number - 1), row);
  model_->RowsChanged();
  try {
    Label2->setText(Caption(kStrSize) + QString::number(FileSizeOf(session_.Archive.ArchivePath)));
  } catch (const std::exception&) {
    Label2->setText(Caption(kStrSize));
  }
  PlaceLabels();
  if (finished) Timer1->start();
}

// ---------------------------------------------------------------------------------------------
// Search

void TForm1::Find_NextClick() { FindStep(0, false); }

void TForm1::Find_PredClick() { FindStep(model_->rowCount() - 1, true); }

std::unique_ptr<FileSource> TForm1::OpenForDataSearch() {
  try {
    return std::make_unique<FileSource>(session_.Archive.ArchivePath);
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
    return nullptr;
  }
}

void TForm1::FindStep(int start, bool backward) {
  if (Busy()) return;
  int step = 1;
  int focused = FocusedRow();
  if (focused < 0) {
    if (model_->rowCount() == 0) return;
    focused = start;
    SetFocusedRow(focused);
    step = 0;
  }
  ListView1->clearSelection();
  const std::string text = Find_Text->text().toUtf8().toStdString();
  const int first = backward ? focused - step : focused + step;
  const bool data = ModeST->isChecked();
  std::unique_ptr<FileSource> stream;
  if (data && !(stream = OpenForDataSearch())) return;
  int found = -1;
  try {
    found =
        FindMatchingRow(model_->Rows(), session_, first, text, backward, Match_Case->isChecked(),
                        Loop_Search->isChecked(), data ? kSearchData : kSearchNames, stream.get());
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
  }
  if (found >= 0) {
    SetFocusedRow(found);
    SelectRow(found);
  } else {
    SelectRow(focused);
  }
  ListView1->setFocus();
}

void TForm1::Items_SelectClick() {
  if (Busy()) return;
  const int count = model_->rowCount();
  if (count == 0) return;
  SetFocusedRow(0);
  ListView1->clearSelection();
  const std::string text = Find_Text->text().toUtf8().toStdString();
  const bool data = ModeST->isChecked();
  std::unique_ptr<FileSource> stream;
  if (data && !(stream = OpenForDataSearch())) return;
  // Matches are gathered into ranges and selected at once: one selection change instead of one
  // per match.
  QItemSelection selection;
  int run_first = -1;
  int run_last = -1;
  auto close_run = [&] {
    if (run_first >= 0)
      selection.select(model_->index(run_first, 0), model_->index(run_last, kListColumnCount - 1));
  };
  int last = -1;
  try {
    for (int i = 0;;) {
      const int found =
          FindMatchingRow(model_->Rows(), session_, i, text, false, Match_Case->isChecked(), false,
                          data ? kSearchData : kSearchNames, stream.get());
      if (found < 0) break;
      if (found != run_last + 1 || run_first < 0) {
        close_run();
        run_first = found;
      }
      run_last = found;
      last = found;
      i = found + 1;
    }
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
  }
  close_run();
  if (!selection.isEmpty())
    ListView1->selectionModel()->select(selection, QItemSelectionModel::Select);
  if (last >= 0) SetFocusedRow(last);
  ListView1->setFocus();
}

void TForm1::ModeSNClick() {
  if (!ModeSN->isChecked()) return;
  Match_Case->setChecked(false);
  Match_Case->setEnabled(true);
}

void TForm1::ModeSTClick() {
  if (!ModeST->isChecked()) return;
  // Object data is searched byte for byte.
  Match_Case->setChecked(true);
  Match_Case->setEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Progress frame

QRect TForm1::FrameRect() const {
  const QRect bar = ProgressBar1->geometry();
  return QRect(bar.left() - 4, bar.top() - 4, bar.width() + 8, bar.height() + 9);
}

void TForm1::SetFrameColor(double x) {
  frame_color_ = QColor(static_cast<int>(std::lround(155 + 35 * x)),
                        static_cast<int>(std::lround(185 + 70 * x)),
                        static_cast<int>(std::lround(235 - 55 * x)));
  update(FrameRect());
}

void TForm1::ShowProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == ProgressBar1->value()) return;
  ProgressBar1->setValue(percent);
  SetFrameColor(percent / 100.0);
}

void TForm1::Timer1Timer() {
  --fade_counter_;
  SetFrameColor(fade_counter_ / 100.0);
  if (fade_counter_ <= 0) {
    fade_counter_ = 100;
    Timer1->stop();
  }
}

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(frame_color_);
  painter.drawRoundedRect(FrameRect(), 5, 5);
}

// ---------------------------------------------------------------------------------------------
// Close and drop

void TForm1::closeEvent(QCloseEvent* event) {
  // An open or export that lets the window handle events still reads the archive files.
  if (Busy()) {
    event->ignore();
    return;
  }
  CloseArchive(session_);
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (!Busy() && mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (Busy() || !mime->hasUrls() || mime->urls().isEmpty() || !mime->urls().first().isLocalFile())
    return;
  const std::string path = LocalPath(mime->urls().first().toLocalFile());
  event->acceptProposedAction();
  // Opened once the drop has finished, so that the dragging program is not kept waiting.
  QTimer::singleShot(0, this, [this, path] { OpenPath(path); });
}

// ---------------------------------------------------------------------------------------------
// Preview

void TForm1::WaitForPreview() {
  preview_pool_->waitForDone();
  QCoreApplication::sendPostedEvents(this);
}

void TForm1::PreviewSelection() {
  const std::vector<int> rows = SelectedRows();
  const int generation = ++preview_generation_;
  if (rows.size() != 1 || !archive_open_ || PreviewPane->isHidden() ||
      static_cast<size_t>(rows[0]) >= model_->Rows().size())
    return;
  const size_t entry = static_cast<size_t>(model_->Rows()[static_cast<size_t>(rows[0])].Number - 1);
  PreviewCaption->setText("...");
  // Decoding a large texture takes a while; the window stays responsive, and a preview that a
  // newer selection has outdated is dropped when it arrives.
  preview_pool_->start([this, generation, entry, area = PreviewPicture->size()] {
    EntryPreview preview = MakeEntryPreview(session_, entry);
    QImage fitted;
    if (preview.kind == EntryPreview::Kind::kPicture) {
      fitted = FitPicture(preview.picture, area);
      // Only its size is shown from here on.
      preview.picture.pixels = std::vector<uint8_t>();
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, preview = std::move(preview), fitted] {
          ShowPreview(generation, preview, fitted);
        },
        Qt::QueuedConnection);
  });
}

void TForm1::ShowPreview(int generation, const EntryPreview& preview, const QImage& fitted) {
  if (generation != preview_generation_) return;
  ++previews_shown_;
  PreviewCaption->setText(QString::fromStdString(preview.caption));
  PreviewCaption->setToolTip(PreviewCaption->text());
  if (ShowPreviewView(preview)) return;
  if (preview.kind == EntryPreview::Kind::kPicture) {
    const RgbaImage& p = preview.picture;
    PreviewPicture->setPixmap(QPixmap::fromImage(fitted));
    PreviewPicture->setProperty("pictureSize", QSize(p.width, p.height));
    PreviewText->hide();
    PreviewPicture->show();
  } else {
    PreviewText->setPlainText(
        QString::fromUtf8(preview.text.data(), static_cast<qsizetype>(preview.text.size())));
    PreviewPicture->clear();
    PreviewPicture->setProperty("pictureSize", QSize());
    PreviewPicture->hide();
    PreviewText->show();
  }
}

// Meshes, fonts and sounds have views of their own; the one shown before is cleared (a font
// given back, a sound stopped). False for the kinds the picture and text show.
bool TForm1::ShowPreviewView(const EntryPreview& preview) {
  MeshPreview->SetMesh(nullptr);
  FontPreview->Clear();
  SoundPreview->Clear();
  using Kind = EntryPreview::Kind;
  if (preview.kind != Kind::kMesh && preview.kind != Kind::kFont && preview.kind != Kind::kSound)
    return false;
  PreviewPicture->clear();
  PreviewPicture->setProperty("pictureSize", QSize());
  PreviewPicture->hide();
  PreviewText->hide();
  if (preview.kind == Kind::kMesh) MeshPreview->SetMesh(preview.mesh);
  if (preview.kind == Kind::kSound) SoundPreview->SetSound(preview.data, preview.sound);
  if (preview.kind == Kind::kFont && FontPreview->SetFont(preview.data)) {
    PreviewCaption->setText(PreviewCaption->text() + ", " + FontPreview->Family());
    PreviewCaption->setToolTip(PreviewCaption->text());
  }
  return true;
}

}  // namespace kestrix
