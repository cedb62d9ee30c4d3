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
#include <QKeySequence>
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
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <map>
#include <numeric>

#include "app/folder_tasks.h"
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
#include "ui/field_tree.h"
#include "ui/font_view.h"
#include "ui/list_model.h"
#include "ui/list_sort.h"
#include "ui/mesh_view.h"
#include "ui/message_pane.h"
#include "ui/preview_picture.h"
#include "ui/search.h"
#include "ui/sound_view.h"

namespace kestrix {

namespace {

constexpr int kBarHeight = 45;  // TabControl1, one row
constexpr int kBarSecondRow = 44;  // the second row of a narrow window's search bar
constexpr int kMessagePaneHeight = 96;
constexpr int kFilterWidth = 170;
// The smallest window in which every control keeps its size: the buttons, a chooser and a
// filter wide enough to read, and the search bar in two rows.
constexpr QSize kMinimumSize(830, 380);
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
    {41, 30, 90}, {0, 70, INT_MAX}, {200, 55, 900}, {73, 73, 100}, {100, 100, 100}};

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

// The switches of "-t json".
void SetJsonSwitches(ExportSwitches& sw) { sw.ExportJson = true; }

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
  BtnExportJson = PopupMenu1->addAction(QString());
  BtnExportJson->setObjectName("BtnExportJson");
  BtnSelAll = PopupMenu1->addAction(QString());
  BtnSelAll->setObjectName("BtnSelAll");
  BtnExportPng = PopupMenu1->addAction(QString());
  BtnExportPng->setObjectName("BtnExportPng");
  BtnExportPng->setCheckable(true);
  CreateActions();

  OpenFolderButton = new QToolButton(this);
  OpenFolderButton->setObjectName("OpenFolderButton");
  OpenFolderButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  connect(OpenFolderButton, &QToolButton::clicked, this, &TForm1::OpenFolderClick);
  ArchiveTree = new QTreeWidget(this);
  ArchiveTree->setObjectName("ArchiveTree");
  ArchiveTree->setHeaderHidden(true);
  ArchiveTree->hide();
  connect(ArchiveTree, &QTreeWidget::itemActivated, this, &TForm1::OpenArchiveOfTree);
  connect(ArchiveTree, &QTreeWidget::itemClicked, this, &TForm1::OpenArchiveOfTree);
  TypeFilter = new QComboBox(this);
  TypeFilter->setObjectName("TypeFilter");
  connect(TypeFilter, &QComboBox::activated, this, &TForm1::TypeFilterChanged);
  Messages = new MessagePane(this);
  Messages->hide();
  connect(Messages, &MessagePane::ContentChanged, this, [this] { LayoutControls(); });

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
  FieldPreview = new FieldTreeView(PreviewPane);
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
  // The last pattern is any name of exactly 32 characters (the hashed names of bundles). Web
  // builds' data files may be named after the build alone ("Game.unityweb"). Bundles often have
  // no extension at all, so every file is offered unless the user narrows it.
  OpenDialog1->setNameFilters(
      {"All files (*)",
       "Unity archives (*.asset* level* mainData globalgamemanagers *.unity3d *AssetBundle* "
       "*.bundle* *.assetbundle *.ab *.dat *data* *.data.gz *.data.br *.unityweb *.TEMP "
       "*.split0 *CAB* " +
           QString(32, QChar('?')) + ")"});

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(BtnExportSelOriginal, &QAction::triggered, this, &TForm1::BtnExportSelOriginalClick);
  connect(BtnExportSelSource, &QAction::triggered, this, &TForm1::BtnExportSelSourceClick);
  connect(BtnExportJson, &QAction::triggered, this, &TForm1::BtnExportJsonClick);
  connect(BtnSelAll, &QAction::triggered, this, &TForm1::BtnSelAllClick);
  connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { PreviewSelection(); });
  connect(ListView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { PreviewSelection(); });
  connect(Find_Next, &QPushButton::clicked, this, &TForm1::Find_NextClick);
  connect(Find_Pred, &QPushButton::clicked, this, &TForm1::Find_PredClick);
  connect(Items_Select, &QPushButton::clicked, this, &TForm1::Items_SelectClick);
}

void TForm1::CreateActions() {
  auto action = [this](QAction*& a, const char* name, const QKeySequence& key) {
    a = new QAction(this);
    a->setObjectName(name);
    a->setShortcut(key);
    a->setShortcutVisibleInContextMenu(true);
    addAction(a);  // the key works anywhere in the window, not only while the menu is open
  };
  action(ActOpen, "ActOpen", QKeySequence(Qt::CTRL | Qt::Key_O));
  action(ActOpenFolder, "ActOpenFolder", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  action(ActFind, "ActFind", QKeySequence(Qt::CTRL | Qt::Key_F));
  action(ActFindNext, "ActFindNext", QKeySequence(Qt::Key_F3));
  action(ActFindPrev, "ActFindPrev", QKeySequence(Qt::SHIFT | Qt::Key_F3));
  action(ActExportAll, "ActExportAll", QKeySequence(Qt::CTRL | Qt::Key_E));
  action(ActImportAll, "ActImportAll", QKeySequence(Qt::CTRL | Qt::Key_I));
  for (QAction* a : {BtnExportSelOriginal, BtnExportSelSource, BtnSelAll}) {
    a->setShortcutVisibleInContextMenu(true);
    addAction(a);
  }
  BtnExportSelOriginal->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  BtnSelAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  // The list's own Ctrl+A would otherwise take the key first while the list has the focus.
  BtnSelAll->setShortcutContext(Qt::WindowShortcut);
  PopupMenu1->addSeparator();
  PopupMenu1->addActions({ActOpen, ActOpenFolder, ActExportAll, ActImportAll});
  PopupMenu1->addSeparator();
  PopupMenu1->addActions({ActFind, ActFindNext, ActFindPrev});
  connect(ActOpen, &QAction::triggered, this, &TForm1::Button1Click);
  connect(ActOpenFolder, &QAction::triggered, this, &TForm1::OpenFolderClick);
  connect(ActExportAll, &QAction::triggered, this, &TForm1::Button2Click);
  connect(ActImportAll, &QAction::triggered, this, &TForm1::Button3Click);
  connect(ActFindNext, &QAction::triggered, this, &TForm1::Find_NextClick);
  connect(ActFindPrev, &QAction::triggered, this, &TForm1::Find_PredClick);
  connect(ActFind, &QAction::triggered, this, [this] {
    Find_Text->setFocus(Qt::ShortcutFocusReason);
    Find_Text->selectAll();
  });
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
  setMinimumSize(kMinimumSize);
  FillTypeFilter();
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
  BtnExportJson->setText(Caption(kStrExportJson));
  BtnSelAll->setText(Caption(kStrSelectAll));
  const bool ru = InterfaceIsRussian();
  ActOpen->setText(Caption(kStrOpenArchive));
  ActOpenFolder->setText(ru ? QString::fromUtf8("Открыть папку игры…") : QString("Open game folder…"));
  OpenFolderButton->setToolTip(ActOpenFolder->text() + " (" +
                               ActOpenFolder->shortcut().toString(QKeySequence::NativeText) + ")");
  ActExportAll->setText(Caption(kStrExportAll));
  ActImportAll->setText(Caption(kStrImportAll));
  ActFind->setText(ru ? QString::fromUtf8("Найти…") : QString("Find…"));
  ActFindNext->setText(Caption(kStrFindNext));
  ActFindPrev->setText(Caption(kStrFindPred));
  // The buttons name their keys, as the menu does.
  Button1->setToolTip(ActOpen->shortcut().toString(QKeySequence::NativeText));
  Button2->setToolTip(ActExportAll->shortcut().toString(QKeySequence::NativeText));
  Button3->setToolTip(ActImportAll->shortcut().toString(QKeySequence::NativeText));
  Find_Next->setToolTip(ActFindNext->shortcut().toString(QKeySequence::NativeText));
  Find_Pred->setToolTip(ActFindPrev->shortcut().toString(QKeySequence::NativeText));
  TypeFilter->setToolTip(ru ? QString::fromUtf8("Показывать объекты одного класса")
                            : QString("Show the objects of one class"));
  BtnExportPng->setText(InterfaceIsRussian() ? QString::fromUtf8("Текстуры также картинками PNG")
                                             : QString("Textures also as PNG pictures"));
  FitTopButtons();
  PlaceSearchBar();
  PlaceLabels();
}

void TForm1::FitTopButtons() {
  // The three buttons share one width, the designed one unless a caption needs more (the
  // Russian ones do); the progress bar spans them, and the labels start after them. Every
  // caption keeps the window's font.
  int width = 129;
  for (QPushButton* b : {Button1, Button2, Button3}) width = std::max(width, b->sizeHint().width());
  int x = 8;
  for (QPushButton* b : {Button1, Button2, Button3}) {
    b->setGeometry(x, 5, width, 25);
    x += width + 7;
  }
  ProgressBar1->setGeometry(7, 37, Button3->x() + width - 7, 17);
  OpenFolderButton->setGeometry(Button3->x() + width + 4, 5, 25, 25);
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
  Find_Text->move(std::max(104, std::max(right(ModeSN), right(ModeST)) + 7), 12);
  Find_Next->move(std::max(265, right(Find_Text) + 8), 10);
  Find_Pred->move(std::max(401, right(Find_Next) + 7), 10);
  Items_Select->move(std::max(536, right(Find_Pred) + 6), 10);
  Match_Case->move(std::max(673, right(Items_Select) + 7), 4);
  Loop_Search->move(std::max(672, right(Items_Select) + 6), 24);
  one_row_width_ = std::max(right(Match_Case), right(Loop_Search)) + 8;
  // A window narrower than that row takes the selection commands into a second row.
  if (width() >= one_row_width_) return;
  Items_Select->move(8, kBarSecondRow + 10);
  Match_Case->move(right(Items_Select) + 7, kBarSecondRow + 4);
  Loop_Search->move(right(Items_Select) + 6, kBarSecondRow + 24);
}

int TForm1::SearchBarHeight() const {
  return width() >= one_row_width_ ? kBarHeight : kBarHeight + kBarSecondRow;
}

void TForm1::ApplySizeRules(const QSize& screen) {
  const int button3_right = Button3->x() + Button3->width();
  int width = Label4->x() + Label4->width() + 80;
  int height = 768;
  if (screen.width() <= 800 && width > 800) width = button3_right + 15;
  if (screen.height() <= 768 && height > 600) height = screen.height() - 168;
  // Never below the size at which the controls stay whole.
  resize(std::max(width, kMinimumSize.width()), std::max(height, kMinimumSize.height()));
  LayoutControls();
}

void TForm1::LayoutControls() {
  const int w = width();
  const int h = height();
  PlaceSearchBar();
  const int bar = SearchBarHeight();
  TabControl1->setGeometry(0, h - bar, w, bar);
  const int pane_height = Messages->HasContent() ? kMessagePaneHeight : 0;
  Messages->setVisible(pane_height > 0);
  Messages->setGeometry(0, h - bar - pane_height, w, pane_height);
  const int list_top = ProgressBar1->y() + ProgressBar1->height() + 9;
  const int list_height = std::max(0, h - bar - pane_height - list_top);
  // Small windows keep the whole width for the list; the pane shows from 640 pixels on.
  const int pane = w >= 640 ? std::min(360, w / 3) : 0;
  PreviewPane->setVisible(pane > 0);
  // The tree of a game folder's archives takes the left of the list while a folder is open.
  const int tree = folder_.empty() ? 0 : std::min(240, (w - pane) / 4);
  ArchiveTree->setVisible(tree > 0);
  ArchiveTree->setGeometry(0, list_top, tree, list_height);
  ListView1->setGeometry(tree, list_top, w - pane - tree, list_height);
  PreviewPane->setGeometry(w - pane, list_top, pane, list_height);
  PreviewCaption->setGeometry(6, 4, pane - 12, 18);
  PreviewPicture->setGeometry(4, 26, pane - 8, std::max(0, list_height - 30));
  PreviewText->setGeometry(4, 26, pane - 8, std::max(0, list_height - 30));
  for (QWidget* view : {static_cast<QWidget*>(MeshPreview), static_cast<QWidget*>(FontPreview),
                        static_cast<QWidget*>(SoundPreview), static_cast<QWidget*>(FieldPreview)})
    view->setGeometry(PreviewText->geometry());
  // A caption wider than the designed label pushes the chooser right instead of under it; the
  // class filter takes the end of the row.
  Label1->move(std::max(424, OpenFolderButton->x() + OpenFolderButton->width() + 15), 0);
  const int chooser_left = std::max(464, Label1->x() + Label1->sizeHint().width() + 2);
  const int filter_width = std::clamp((w - chooser_left - 14) / 2, 150, kFilterWidth);
  const int filter_left = w - filter_width - 8;
  TypeFilter->setGeometry(filter_left, 6, filter_width, 22);
  ComboBox1->setGeometry(chooser_left, 6, std::max(0, filter_left - chooser_left - 6), 22);
  FitColumns();
}

void TForm1::FitColumns() {
  QHeaderView* header = ListView1->horizontalHeader();
  const QFontMetrics metrics = ListView1->fontMetrics();
  // Seven digits of "#", and the longest type text whole while the name keeps a third.
  header->resizeSection(kColumnNumber,
                        std::max(kColumns[kColumnNumber].width,
                                 metrics.horizontalAdvance(QString(7, QChar('9'))) + 14));
  int type = kColumns[kColumnType].width;
  for (const QString& text : type_texts_) type = std::max(type, metrics.horizontalAdvance(text) + 14);
  const int room = ListView1->width() - header->sectionSize(kColumnNumber) -
                   header->sectionSize(kColumnSize) - header->sectionSize(kColumnOffset) -
                   ListView1->width() / 3;
  header->resizeSection(kColumnType,
                        std::clamp(type, kColumns[kColumnType].width,
                                   std::max(kColumns[kColumnType].width,
                                            std::min(room, kColumns[kColumnType].max))));
}

void TForm1::PlaceLabels() {
  Label1->resize(std::max(36, Label1->sizeHint().width()), 33);
  for (QLabel* l : {Label2, Label3, Label4}) l->adjustSize();
  // Designed places, unless the text before would run into the next label.
  const int first = std::max(424, OpenFolderButton->x() + OpenFolderButton->width() + 15);
  Label2->move(first, 39);
  Label3->move(std::max(first + 104, Label2->x() + Label2->width() + 12), 39);
  Label4->move(std::max(first + 280, Label3->x() + Label3->width() + 12), 39);
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
  TypeFilter->setEnabled(idle && archive_open_);
  ActOpen->setEnabled(idle);
  ActExportAll->setEnabled(Button2->isEnabled());
  ActImportAll->setEnabled(Button3->isEnabled());
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
  if (box_sink_) box_sink_(error, text);
  Messages->Add(error, text);
}

void TForm1::UpdateTitle() {
  QString title = QString("Kestrix ") + KESTRIX_VERSION;
  if (!folder_.empty()) title += " - " + Q(FileNameOf(folder_.back() == kSep ? folder_.substr(0, folder_.size() - 1) : folder_)) + "/";
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

void TForm1::OpenFolderClick() {
  if (Busy()) return;
  const QString chosen = QFileDialog::getExistingDirectory(this, ActOpenFolder->text());
  if (!chosen.isEmpty()) OpenFolder(LocalPath(chosen));
}

void TForm1::OpenFolder(const std::string& folder) {
  if (Busy()) return;
  WaitForPreview();
  ClearPreview();
  Messages->Clear();
  const std::string base = EndsWith(folder, std::string(1, kSep)) ? folder : folder + kSep;
  std::vector<std::string> archives;
  try {
    archives = FindArchivesBelow(base);
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
    return;
  }
  folder_ = folder;
  ArchiveTree->clear();
  // One branch per sub-folder, the archives as leaves; a leaf keeps its path.
  std::map<std::string, QTreeWidgetItem*> branches;
  for (const std::string& path : archives) {
    const std::string relative = path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path;
    QTreeWidgetItem* parent = nullptr;
    std::string so_far;
    size_t start = 0;
    for (size_t sep = relative.find(kSep); sep != std::string::npos; sep = relative.find(kSep, start)) {
      so_far = relative.substr(0, sep);
      QTreeWidgetItem*& branch = branches[so_far];
      if (!branch) {
        branch = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ArchiveTree);
        branch->setText(0, Q(relative.substr(start, sep - start)));
        branch->setExpanded(true);
      }
      parent = branch;
      start = sep + 1;
    }
    QTreeWidgetItem* leaf = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ArchiveTree);
    leaf->setText(0, Q(relative.substr(start)));
    leaf->setData(0, Qt::UserRole, Q(path));
    leaf->setToolTip(0, Q(relative));
  }
  const bool ru = InterfaceIsRussian();
  Messages->SetStatus((ru ? "Архивов Unity в папке: " : "Unity archives in the folder: ") +
                          std::to_string(archives.size()),
                      folder);
  LayoutControls();
  UpdateTitle();
}

void TForm1::OpenArchiveOfTree(QTreeWidgetItem* item) {
  if (!item || Busy()) return;
  const QString path = item->data(0, Qt::UserRole).toString();
  if (path.isEmpty()) return;
  const std::string folder = folder_;
  OpenPath(LocalPath(path));
  folder_ = folder;  // the tree stays while its archives are opened
  LayoutControls();
  UpdateTitle();
}

void TForm1::OpenPath(const std::string& path) {
  if (Busy()) return;
  if (FolderExists(path)) {
    OpenFolder(path);
    return;
  }
  folder_.clear();
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
  ClearPreview();
  Messages->Clear();
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
  FillTypeFilter();
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
  ListView1->horizontalHeader()->setSortIndicatorShown(false);
  FillTypeFilter();
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
  // A second click on the same column turns the order round.
  const bool descending = column == model_->SortColumn() && !model_->SortDescending();
  const SelectedEntries selected = RememberSelection();
  model_->SortBy(session_, column, descending);
  QHeaderView* header = ListView1->horizontalHeader();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
  RestoreSelection(selected);
}

void TForm1::FillTypeFilter() {
  const QSignalBlocker blocker(TypeFilter);
  TypeFilter->clear();
  type_texts_.clear();
  TypeFilter->addItem(InterfaceIsRussian() ? QString::fromUtf8("Все") : QString("All"),
                      QVariant::fromValue<qlonglong>(ListModel::kAllClasses));
  if (!archive_open_) return;
  for (const auto& [name, id] : model_->ClassesPresent())
    TypeFilter->addItem(Q(name), QVariant::fromValue<qlonglong>(id));
  // The few distinct type texts size the type column.
  std::vector<std::string> texts;
  model_->ForEachRow([&texts](const ListRow& r) {
    if (texts.empty() || texts.back() != r.TypeSuffix) texts.push_back(r.TypeSuffix);
  });
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  for (const std::string& t : texts) {
    ListRow probe;
    probe.ClassId = 0;
    probe.TypeSuffix = t;
    type_texts_.push_back(Q(TypeCellText(probe)) + "0000");  // room for the class number
  }
  FitColumns();
}

void TForm1::TypeFilterChanged(int index) {
  if (Busy() || !archive_open_ || index < 0) return;
  const SelectedEntries selected = RememberSelection();
  model_->FilterClass(session_, TypeFilter->itemData(index).toLongLong());
  RestoreSelection(selected);
}

TForm1::SelectedEntries TForm1::RememberSelection() const {
  SelectedEntries out;
  const auto& rows = model_->Rows();
  for (int r : SelectedRows())
    if (static_cast<size_t>(r) < rows.size()) out.numbers.push_back(rows[static_cast<size_t>(r)].Number);
  const int focused = FocusedRow();
  if (focused >= 0 && static_cast<size_t>(focused) < rows.size())
    out.focused = rows[static_cast<size_t>(focused)].Number;
  return out;
}

void TForm1::RestoreSelection(const SelectedEntries& selected) {
  const auto& rows = model_->Rows();
  std::vector<int> row_of(session_.EntryCount() + 1, -1);
  for (size_t r = 0; r < rows.size(); ++r)
    if (rows[r].Number > 0 && static_cast<size_t>(rows[r].Number) < row_of.size())
      row_of[static_cast<size_t>(rows[r].Number)] = static_cast<int>(r);
  QItemSelection selection;
  for (int32_t number : selected.numbers) {
    const int r = number > 0 && static_cast<size_t>(number) < row_of.size()
                      ? row_of[static_cast<size_t>(number)]
                      : -1;
    if (r >= 0) selection.select(model_->index(r, 0), model_->index(r, kListColumnCount - 1));
  }
  const int focused = selected.focused > 0 && static_cast<size_t>(selected.focused) < row_of.size()
                          ? row_of[static_cast<size_t>(selected.focused)]
                          : -1;
  if (focused >= 0) SetFocusedRow(focused);
  // The selection changes once, so the preview is made again for what is selected now.
  ListView1->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  if (selection.isEmpty()) PreviewSelection();
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
  std::vector<size_t> entries;
  std::string what;
  if (model_->Filtered()) {
    // A filtered list exports what it shows.
    for (const ListRow& row : model_->Rows()) entries.push_back(static_cast<size_t>(row.Number - 1));
    what = TypeFilter->currentText().toStdString();
  } else {
    entries.resize(session_.EntryCount());
    std::iota(entries.begin(), entries.end(), size_t{0});
  }
  ExportRequest request;
  SetExportAllSwitches(request.Switches);
  RunExport(request, entries, true, what);
}

void TForm1::BtnExportSelOriginalClick() { ExportSelection(SetSelectedOriginalSwitches); }

void TForm1::BtnExportSelSourceClick() { ExportSelection(SetSelectedSourceSwitches); }

void TForm1::BtnExportJsonClick() { ExportSelection(SetJsonSwitches); }

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
  RunExport(request, entries, false, "");
}

void TForm1::RunExport(const ExportRequest& request, const std::vector<size_t>& entries,
                       bool process_messages, const std::string& what) {
  BusyScope busy(*this);
  Messages->Clear();
  bool finished = false;
  ExportRunResult result;
  try {
    result = ExportEntries(session_, request, frontend_, entries, process_messages);
    finished = true;
  } catch (const std::exception& e) {
    ShowBox(true, e.what());
  }
  const bool ru = InterfaceIsRussian();
  std::string status;
  if (ru) {
    status = "Извлечено объектов: " + std::to_string(result.exported) +
             (what.empty() ? "" : " (показанные " + what + ")");
    if (result.failed) status += ", с ошибками: " + std::to_string(result.failed);
    if (!finished) status += ", извлечение прервано";
  } else {
    status = "Exported " + std::to_string(result.exported) +
             (result.exported == 1 ? " object" : " objects") +
             (what.empty() ? "" : " (the " + what + " objects shown)");
    if (result.failed) status += "; " + std::to_string(result.failed) + " failed";
    if (!finished) status += "; the export stopped";
  }
  Messages->SetStatus(status, ExportFolder(session_.Archive));
  if (finished) Timer1->start();
}

// ---------------------------------------------------------------------------------------------
// Import

void TForm1::Button3Click() {
  if (Busy() || !Button3->isEnabled()) return;
  bool finished = false;
  ImportResult result;
  {
    BusyScope busy(*this);
    Messages->Clear();
    try {
      ImportRequest request;
      WaitForPreview();
      result = ImportAll(session_, request, frontend_, import_converters_);
      finished = true;
    } catch (const std::exception& e) {
      // The archive and the session are as they were; the message says what failed.
      ShowBox(true, e.what());
    }
  }
  // Every row again from its entry, in the order the list shows: offsets, sizes and texture
  // formats may have changed.
  model_->ForEachRow(
      [this](ListRow& row) { FillListRow(session_, static_cast<size_t>(row.Number - 1), row); });
  model_->RowsChanged();
  ReportImport(result, finished);
  ClearPreview();
  PreviewSelection();
  try {
    Label2->setText(Caption(kStrSize) + QString::number(FileSizeOf(session_.Archive.ArchivePath)));
  } catch (const std::exception&) {
    Label2->setText(Caption(kStrSize));
  }
  PlaceLabels();
  if (finished) Timer1->start();
}

void TForm1::ReportImport(const ImportResult& result, bool finished) {
  const bool ru = InterfaceIsRussian();
  const std::string folder = ExportFolder(session_.Archive);
  std::string status;
  if (!finished) {
    status = ru ? "Импорт не выполнен: архив не изменён" : "Nothing was imported: the archive is as it was";
  } else if (result.replaced == 0) {
    status = FolderExists(folder)
                 ? (ru ? "Нечего импортировать: файлы папки не изменились после извлечения"
                       : "Nothing to import: no file in the export folder changed since export")
                 : (ru ? "Нечего импортировать: папки нет (сначала извлеките архив)"
                       : "Nothing to import: the export folder does not exist (export first)");
  } else {
    status = ru ? "Импортировано объектов: " + std::to_string(result.replaced)
                : "Imported " + std::to_string(result.replaced) +
                      (result.replaced == 1 ? " object" : " objects");
  }
  const size_t failed = result.refused + result.not_found;
  if (failed) status += (ru ? ", не принято: " : "; not taken: ") + std::to_string(failed);
  Messages->SetStatus(status, FolderExists(folder) ? folder : std::string());
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

void TForm1::ClearPreview() {
  ++preview_generation_;
  PreviewCaption->clear();
  PreviewCaption->setToolTip(QString());
  PreviewPicture->clear();
  PreviewPicture->setProperty("pictureSize", QSize());
  PreviewText->clear();
  MeshPreview->SetMesh(nullptr);
  FontPreview->Clear();
  SoundPreview->Clear();
  FieldPreview->Clear();
  preview_entry_ = -1;
}

void TForm1::PreviewSelection() {
  const std::vector<int> rows = SelectedRows();
  // One selected row is shown; of several, the focused one if it is selected.
  int row = rows.size() == 1 ? rows[0] : -1;
  const int focused = FocusedRow();
  if (rows.size() > 1 && std::binary_search(rows.begin(), rows.end(), focused)) row = focused;
  if (!archive_open_ || row < 0 || static_cast<size_t>(row) >= model_->Rows().size()) {
    ClearPreview();
    return;
  }
  const size_t entry = static_cast<size_t>(model_->Rows()[static_cast<size_t>(row)].Number - 1);
  // Sorting or filtering keeps the selection: the object shown (or on its way) stays.
  if (preview_entry_ == static_cast<int64_t>(entry)) return;
  const int generation = ++preview_generation_;
  preview_entry_ = static_cast<int64_t>(entry);
  if (PreviewPane->isHidden()) return;
  PreviewCaption->setText("...");
  // Decoding a large texture takes a while; the window stays responsive, and a preview that a
  // newer selection has outdated is dropped when it arrives.
  preview_pool_->start([this, generation, entry, area = PreviewPicture->size()] {
    EntryPreview preview = MakeEntryPreview(session_, entry);
    // What would show as hex shows as its fields when its layout is known.
    std::shared_ptr<const ObjectFields> fields;
    if (preview.kind == EntryPreview::Kind::kHex) fields = ReadObjectFields(session_, entry);
    QImage fitted;
    if (preview.kind == EntryPreview::Kind::kPicture) {
      fitted = FitPicture(preview.picture, area);
      // Only its size is shown from here on.
      preview.picture.pixels = std::vector<uint8_t>();
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, preview = std::move(preview), fitted, fields] {
          ShowPreview(generation, preview, fitted, fields);
        },
        Qt::QueuedConnection);
  });
}

void TForm1::ShowPreview(int generation, const EntryPreview& preview, const QImage& fitted,
                         const std::shared_ptr<const ObjectFields>& fields) {
  if (generation != preview_generation_) return;
  ++previews_shown_;
  PreviewCaption->setText(QString::fromStdString(preview.caption));
  PreviewCaption->setToolTip(PreviewCaption->text());
  if (ShowPreviewView(preview, fields)) return;
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

// Meshes, fonts, sounds and fields have views of their own; the one shown before is cleared (a
// font given back, a sound stopped). False for the kinds the picture and text show.
bool TForm1::ShowPreviewView(const EntryPreview& preview,
                             const std::shared_ptr<const ObjectFields>& fields) {
  MeshPreview->SetMesh(nullptr);
  FontPreview->Clear();
  SoundPreview->Clear();
  FieldPreview->Clear();
  using Kind = EntryPreview::Kind;
  if (preview.kind != Kind::kMesh && preview.kind != Kind::kFont && preview.kind != Kind::kSound &&
      !fields)
    return false;
  PreviewPicture->clear();
  PreviewPicture->setProperty("pictureSize", QSize());
  PreviewPicture->hide();
  PreviewText->hide();
  if (fields) {
    FieldPreview->SetFields(fields);
    // A data search lands on its object; the field that holds the text is opened for it.
    if (ModeST->isChecked()) FieldPreview->Reveal(Find_Text->text().toStdString());
  }
  if (preview.kind == Kind::kMesh) MeshPreview->SetMesh(preview.mesh);
  if (preview.kind == Kind::kSound) SoundPreview->SetSound(preview.data, preview.sound);
  if (preview.kind == Kind::kFont && FontPreview->SetFont(preview.data)) {
    PreviewCaption->setText(PreviewCaption->text() + ", " + FontPreview->Family());
    PreviewCaption->setToolTip(PreviewCaption->text());
  }
  return true;
}

}  // namespace kestrix
