// Drives the real window on the offscreen platform: open, labels, sorting, the popup menu, the
// export commands with their progress, search and selection, button states, languages.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <string>
#include <vector>

#include "core/localization.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/language.h"
#include "support/asset_builder.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"
#include "types/detect_platform.h"
#include "ui/message_pane.h"
#include "ui/list_model.h"
#include "ui/list_sort.h"

namespace kestrix {
namespace {

using testing::AssetSpec;
using testing::Bytes;
using testing::ByteWriter;
using testing::NamedObject;
using testing::TempDir;

std::string S(const QString& q) { return q.toStdString(); }

Bytes TextObject(const std::string& name, const std::string& text) {
  ByteWriter w;
  w.Str(text);
  return NamedObject(name, w.Data());
}

Bytes TextureObject(const std::string& name, const std::string& inside) {
  ByteWriter w;
  w.U32(4).U32(4).U32(8).U32(10).Zeros(16).Text(inside).Zeros(16);
  return NamedObject(name, w.Data());
}

// Ten objects whose names, classes, sizes and offsets each sort differently from table order.
// Object 9 claims 0x90000000 bytes, past 2 GiB, so that sizes must compare unsigned.
AssetSpec RichSpec() {
  AssetSpec desc;
  desc.objects = {
      {49, TextObject("readme", "plain words")},
      {21, NamedObject("Zeta", Bytes(40, 1))},
      {1, Bytes(24, 2)},
      {28, TextureObject("alpha", "needle")},
      {21, NamedObject("beta", Bytes(8, 3))},
      {115, NamedObject("Gamma", Bytes(12, 4))},
      {1, Bytes()},
      {49, TextObject("HERO", "the needle is here")},
      {21, NamedObject("delta", Bytes(20, 5))},
      {1, Bytes(24, 'z')},
  };
  return desc;
}

std::string WriteRichArchive(const TempDir& dir) {
  AssetSpec desc = RichSpec();
  const std::string path = dir.File("rich.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  // The last object keeps its place but states a size past 2 GiB.
  Session probe;
  testing::RecordingFrontend quiet;
  OpenArchive(probe, quiet, path);
  desc.record_overrides.push_back({9, static_cast<uint32_t>(probe.EntryOffset(9)), 0x90000000u});
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  return path;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocalization(kLangEnglish);
    form_ = std::make_unique<TForm1>();
    form_->SetBoxSink([this](bool error, const std::string& text) {
      (error ? errors_ : messages_).push_back(text);
    });
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void TearDown() override { form_.reset(); }

  TForm1& form() { return *form_; }
  int Rows() { return form().model().rowCount(); }
  std::string Cell(int row, int column) {
    return S(form().model().data(form().model().index(row, column), Qt::DisplayRole).toString());
  }
  const ListRow& Row(int r) { return form().model().Rows().at(static_cast<size_t>(r)); }
  void ClickHeader(int column) {
    QHeaderView* header = form().ListView1->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  }
  void Select(const std::vector<int>& rows) {
    form().ListView1->clearSelection();
    for (int r : rows)
      form().ListView1->selectionModel()->select(
          form().model().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  void Search(const std::string& text, bool backward = false) {
    form().Find_Text->setText(QString::fromStdString(text));
    QTest::mouseClick(backward ? form().Find_Pred : form().Find_Next, Qt::LeftButton);
  }
  std::string FocusedName() {
    const int r = form().FocusedRow();
    return r < 0 ? "" : Row(r).Name;
  }

  TempDir dir_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> messages_, errors_;
};

TEST_F(WindowTest, OpensTheDemoArchiveWithItsLabels) {
  const std::string path = dir_.File("demo.assets");
  testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets", path);
  form().OpenPath(path);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(Rows(), 20);
  EXPECT_EQ(S(form().Label1->text()), "Archive: ");
  EXPECT_EQ(S(form().Label2->text()), "Size: " + std::to_string(std::filesystem::file_size(path)));
  EXPECT_EQ(S(form().Label3->text()), "Version: 5.6.3f1 id: 17 " + PlatformName(5));
  EXPECT_EQ(S(form().Label4->text()), "Files: 20");
  EXPECT_EQ(S(form().windowTitle()), std::string("Kestrix ") + KESTRIX_VERSION + " - demo.assets");
  ASSERT_EQ(form().ComboBox1->count(), 1);
  EXPECT_EQ(S(form().ComboBox1->currentText()), "demo.assets");
  EXPECT_EQ(Cell(0, kColumnNumber), "1");
  EXPECT_EQ(Cell(0, kColumnName), "readme.txt");
  EXPECT_EQ(Cell(0, kColumnType), "49 (TextAsset)");
  EXPECT_EQ(Cell(13, kColumnName), "wood_00001.mat");
  EXPECT_EQ(Cell(0, kColumnOffset).substr(0, 2), "0x");
  EXPECT_EQ(Cell(0, kColumnOffset).size(), 10u);
  EXPECT_EQ(S(form().model().headerData(kColumnType, Qt::Horizontal, Qt::DisplayRole).toString()),
            "Type");
}

TEST_F(WindowTest, ControlCharactersOfTheEngineVersionShowAsBars) {
  AssetSpec desc;
  desc.unity_version = "5.6\x01x\x1f";
  desc.objects = {{21, NamedObject("m", Bytes(8, 0))}};
  const std::string path = dir_.File("odd.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().OpenPath(path);
  // The label shows bars; the model keeps the text as the file has it.
  EXPECT_EQ(form().session().Asset.UnityVersion, "5.6\x01x\x1f");
  EXPECT_EQ(S(form().Label3->text()), "Version: 5.6|x| id: 17 " + PlatformName(5));
}

TEST_F(WindowTest, SortsByEveryColumnAndNumberRestoresTableOrder) {
  ClickHeader(kColumnName);  // nothing open: nothing happens
  EXPECT_EQ(Rows(), 0);
  form().OpenPath(WriteRichArchive(dir_));
  ASSERT_EQ(Rows(), 10);

  ClickHeader(kColumnName);
  std::vector<std::string> names;
  for (int r = 0; r < Rows(); ++r) names.push_back(Cell(r, kColumnName));
  EXPECT_EQ(names, (std::vector<std::string>{"alpha.tex", "beta.mat", "delta.mat", "Gamma.script",
                                             "HERO.txt", "readme.txt", "rich_00001.1",
                                             "rich_00002.1", "rich_00003.1", "Zeta.mat"}));

  ClickHeader(kColumnSize);
  EXPECT_EQ(Row(0).Size, 0u);
  EXPECT_EQ(Row(9).Size, 0x90000000u);
  EXPECT_EQ(Cell(9, kColumnSize), "2415919104");
  for (int r = 1; r < 10; ++r) EXPECT_LE(Row(r - 1).Size, Row(r).Size);

  ClickHeader(kColumnType);
  for (int r = 1; r < 10; ++r)
    EXPECT_LE(static_cast<uint32_t>(Row(r - 1).ClassId), static_cast<uint32_t>(Row(r).ClassId));
  EXPECT_EQ(Row(0).ClassId, 1);
  EXPECT_EQ(Row(9).ClassId, 115);

  ClickHeader(kColumnOffset);
  for (int r = 1; r < 10; ++r) EXPECT_LE(Row(r - 1).Offset, Row(r).Offset);

  ClickHeader(kColumnNumber);
  for (int r = 0; r < 10; ++r) EXPECT_EQ(Row(r).Number, r + 1);
  EXPECT_EQ(Cell(1, kColumnName), "Zeta.mat");
}

TEST_F(WindowTest, ExportSelectedWritesTheSelectedRowsInRowOrder) {
  const std::string path = WriteRichArchive(dir_);
  form().OpenPath(path);
  ClickHeader(kColumnName);
  Select({5, 2, 9});
  form().ShowProgress(0);
  std::vector<int> progress;
  QObject::connect(form().ProgressBar1, &QProgressBar::valueChanged,
                   [&](int v) { progress.push_back(v); });
  form().BtnExportSelOriginal->trigger();
  EXPECT_EQ(progress, (std::vector<int>{33, 66, 100}));
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(testing::ListFiles(dir_.File("Unity_Assets_Files/rich")),
            (std::vector<std::string>{"Zeta.mat", "delta.mat", "readme.txt"}));
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("Unity_Assets_Files/rich/readme.txt")),
            Bytes({'p', 'l', 'a', 'i', 'n', ' ', 'w', 'o', 'r', 'd', 's'}));
  EXPECT_TRUE(form().Button2->isEnabled());
  EXPECT_TRUE(form().Timer1->isActive());

  // Without a selection nothing is written and the progress stays.
  form().ListView1->clearSelection();
  progress.clear();
  form().BtnExportSelSource->trigger();
  EXPECT_TRUE(progress.empty());
}

TEST_F(WindowTest, PreviewShowsATexturePictureAndAText) {
  testing::TextureSpec texture;
  texture.width = 8, texture.height = 4, texture.format = 4, texture.mip = 0;
  texture.images = Bytes(8 * 4 * 4, 0x80);
  AssetSpec desc;
  desc.objects = {{28, testing::TextureObject("Hero", texture)},
                  {49, TextObject("readme", "plain words")}};
  const std::string path = dir_.File("preview.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().ApplySizeRules(QSize(1920, 1080));  // the pane shows beside the list
  form().OpenPath(path);
  Select({0});
  form().WaitForPreview();
  EXPECT_EQ(form().PreviewPicture->property("pictureSize").toSize(), QSize(8, 4));
  EXPECT_NE(S(form().PreviewCaption->text()).find("RGBA32 8x4"), std::string::npos)
      << S(form().PreviewCaption->text());
  Select({1});
  form().WaitForPreview();
  EXPECT_EQ(S(form().PreviewText->toPlainText()), "plain words");
  EXPECT_FALSE(form().PreviewPicture->isVisible());
  EXPECT_EQ(form().PreviewsShown(), 2);

  // "Export source files" writes the picture beside the DDS when the menu entry is checked.
  Select({0});
  form().BtnExportPng->setChecked(true);
  form().BtnExportSelSource->trigger();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(testing::ListFiles(dir_.File("Unity_Assets_Files/preview/Textures")),
            (std::vector<std::string>{"Hero.tex.dds", "Hero.tex.png"}));
}

TEST_F(WindowTest, PopupMenuOnlyWithAnOpenArchiveAndSelectAll) {
  QTest::mouseClick(form().ListView1->viewport(), Qt::RightButton, {}, QPoint(20, 10));
  EXPECT_FALSE(form().PopupMenu1->isVisible());
  form().OpenPath(WriteRichArchive(dir_));
  QTest::mouseClick(form().ListView1->viewport(), Qt::RightButton, {}, QPoint(20, 10));
  EXPECT_TRUE(form().PopupMenu1->isVisible());
  form().PopupMenu1->hide();
  form().BtnSelAll->trigger();
  EXPECT_EQ(form().SelectedRows().size(), 10u);
}

TEST_F(WindowTest, FindNextAndPredWithAndWithoutWrapAround) {
  form().OpenPath(WriteRichArchive(dir_));
  // Matches of ".mat": rows 1, 4 and 8. Without a focused row the first row is tested first.
  Search("readme");
  EXPECT_EQ(form().FocusedRow(), 0);
  form().ListView1->selectionModel()->clearCurrentIndex();
  Search(".mat");
  EXPECT_EQ(form().FocusedRow(), 1);
  Search(".mat");
  EXPECT_EQ(form().FocusedRow(), 4);
  Search(".mat");
  EXPECT_EQ(form().FocusedRow(), 8);
  Search(".mat");  // end of the list: the focused row is selected again
  EXPECT_EQ(form().FocusedRow(), 8);
  EXPECT_EQ(form().SelectedRows(), std::vector<int>{8});
  form().Loop_Search->setChecked(true);
  Search(".mat");
  EXPECT_EQ(form().FocusedRow(), 1);
  Search(".mat", true);
  EXPECT_EQ(form().FocusedRow(), 8);
  form().Loop_Search->setChecked(false);
  Search(".mat", true);
  EXPECT_EQ(form().FocusedRow(), 4);
  EXPECT_EQ(form().SelectedRows(), std::vector<int>{4});

  // Backward without a focused row starts at the last row.
  form().ListView1->selectionModel()->clearCurrentIndex();
  Search("rich_00003", true);
  EXPECT_EQ(form().FocusedRow(), 9);

  // Names compare without case unless Match Case is on.
  form().ListView1->selectionModel()->clearCurrentIndex();
  Search("hero");
  EXPECT_EQ(FocusedName(), "HERO.txt");
  form().ListView1->selectionModel()->clearCurrentIndex();
  form().Match_Case->setChecked(true);
  Search("hero");
  EXPECT_EQ(form().FocusedRow(), 0);
  EXPECT_EQ(form().SelectedRows(), std::vector<int>{0});

  // The search follows the sorted list.
  form().Match_Case->setChecked(false);
  ClickHeader(kColumnName);
  form().ListView1->selectionModel()->clearCurrentIndex();
  Search(".mat");
  EXPECT_EQ(FocusedName(), "beta.mat");
  Search(".mat");
  EXPECT_EQ(FocusedName(), "delta.mat");
}

TEST_F(WindowTest, ItemsSelectSelectsEveryMatch) {
  form().OpenPath(WriteRichArchive(dir_));
  form().Find_Text->setText(".mat");
  QTest::mouseClick(form().Items_Select, Qt::LeftButton);
  EXPECT_EQ(form().SelectedRows(), (std::vector<int>{1, 4, 8}));
  EXPECT_EQ(form().FocusedRow(), 8);
  form().Find_Text->setText("rich");
  QTest::mouseClick(form().Items_Select, Qt::LeftButton);
  EXPECT_EQ(form().SelectedRows(), (std::vector<int>{2, 6, 9}));
  form().Find_Text->setText("nothing like it");
  QTest::mouseClick(form().Items_Select, Qt::LeftButton);
  EXPECT_TRUE(form().SelectedRows().empty());
}

TEST_F(WindowTest, DataSearchFindsTextAcrossAChunkBoundaryAndSkipsTextures) {
  std::string text(1024000 + 4000, '.');
  text.replace(1024000 - 3, 6, "needle");
  AssetSpec desc;
  desc.objects = {{21, NamedObject("plain", Bytes(16, 0))},
                  {28, TextureObject("picture", "needle")},
                  {49, TextObject("long", text)},
                  {21, NamedObject("after", Bytes(16, 0))}};
  const std::string path = dir_.File("big.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().OpenPath(path);
  ASSERT_EQ(Rows(), 4);

  form().ModeST->click();
  EXPECT_TRUE(form().Match_Case->isChecked());
  EXPECT_FALSE(form().Match_Case->isEnabled());
  Search("needle");
  EXPECT_EQ(form().FocusedRow(), 2);
  Search("needle");  // the texture holds it too, but textures are not searched
  EXPECT_EQ(form().FocusedRow(), 2);
  form().Loop_Search->setChecked(true);
  Search("needle");
  EXPECT_EQ(form().FocusedRow(), 2);
  EXPECT_EQ(form().SelectedRows(), std::vector<int>{2});

  form().ModeSN->click();
  EXPECT_FALSE(form().Match_Case->isChecked());
  EXPECT_TRUE(form().Match_Case->isEnabled());
}

TEST_F(WindowTest, ButtonStatesWhileOpeningAndExporting) {
  EXPECT_TRUE(form().Button1->isEnabled());
  EXPECT_FALSE(form().Button2->isEnabled());
  EXPECT_FALSE(form().Button3->isEnabled());
  EXPECT_EQ(form().ComboBox1->count(), 0);
  EXPECT_EQ(Rows(), 0);

  struct Seen {
    bool any_enabled = false;
    bool closed = false;
    int calls = 0;
  } seen;
  auto watch = [&](int) {
    ++seen.calls;
    seen.any_enabled |= form().Button1->isEnabled() || form().Button2->isEnabled() ||
                        form().Button3->isEnabled() || form().ComboBox1->isEnabled() ||
                        form().Find_Next->isEnabled() || form().Items_Select->isEnabled();
    seen.closed |= form().close();
  };
  auto connection = QObject::connect(form().ProgressBar1, &QProgressBar::valueChanged, watch);
  const std::string path = WriteRichArchive(dir_);
  form().OpenPath(path);
  EXPECT_GT(seen.calls, 0);
  EXPECT_FALSE(seen.any_enabled);
  EXPECT_FALSE(seen.closed);
  EXPECT_TRUE(form().isVisible());

  EXPECT_TRUE(form().Button1->isEnabled());
  EXPECT_TRUE(form().Button2->isEnabled());
  EXPECT_TRUE(form().Button3->isEnabled());
  EXPECT_TRUE(form().ComboBox1->isEnabled());

  // Choosing the contained file reopens it, with the chooser disabled meanwhile.
  seen = Seen();
  form().ComboBox1Click(0);
  EXPECT_GT(seen.calls, 0);
  EXPECT_FALSE(seen.any_enabled);
  EXPECT_EQ(Rows(), 10);

  // "Export all files": every command waits, the window stays open.
  {
    const QSignalBlocker quiet(form().ProgressBar1);
    form().ShowProgress(0);
  }
  seen = Seen();
  QTest::mouseClick(form().Button2, Qt::LeftButton);
  EXPECT_EQ(seen.calls, 10);
  EXPECT_FALSE(seen.any_enabled);
  EXPECT_FALSE(seen.closed);
  EXPECT_TRUE(form().Button2->isEnabled());
  QObject::disconnect(connection);
  // The object past 2 GiB cannot be exported, and the texture whose data is no picture cannot be
  // converted (its raw copy is still written); the others are exported.
  ASSERT_EQ(errors_.size(), 2u) << errors_[0];
  EXPECT_NE(errors_[0].find("alpha.tex"), std::string::npos) << errors_[0];
  EXPECT_NE(errors_[1].find("past the end"), std::string::npos) << errors_[1];
  EXPECT_EQ(testing::ListFiles(dir_.File("Unity_Assets_Files/rich")).size(), 9u);
}

TEST_F(WindowTest, ImportAllFilesRebuildsAndRefreshesTheRowsInTheirOrder) {
  AssetSpec desc;
  desc.objects = {{21, NamedObject("Zeta", Bytes(40, 1))},
                  {49, TextObject("readme", "hello")},
                  {21, NamedObject("Last", Bytes(8, 2))}};
  const std::string path = dir_.File("level0");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().OpenPath(path);
  ClickHeader(kColumnName);  // Last.mat, readme.txt, Zeta.mat
  ASSERT_EQ(Row(2).Name, "Zeta.mat");
  const uint64_t last_offset = Row(0).Offset;
  const std::string folder = dir_.File("Unity_Assets_Files/level0/");
  std::filesystem::create_directories(folder);
  // 40 -> 100 bytes: the later objects move by 64, keeping their 8-byte alignment.
  testing::WriteFileBytes(folder + "Zeta.mat", Bytes(100, 3));

  bool any_enabled = false;
  int calls = 0;
  auto connection = QObject::connect(form().ProgressBar1, &QProgressBar::valueChanged, [&](int) {
    ++calls;
    any_enabled |= form().Button1->isEnabled() || form().Button2->isEnabled() ||
                   form().Button3->isEnabled() || form().ComboBox1->isEnabled();
  });
  QTest::mouseClick(form().Button3, Qt::LeftButton);
  QObject::disconnect(connection);
  ASSERT_TRUE(errors_.empty()) << errors_[0];
  EXPECT_GT(calls, 0);
  EXPECT_FALSE(any_enabled);
  EXPECT_EQ(form().ProgressBar1->value(), 100);
  EXPECT_TRUE(form().Button3->isEnabled());
  EXPECT_EQ(Row(2).Name, "Zeta.mat");
  EXPECT_EQ(Row(2).Size, 100u);
  EXPECT_EQ(Row(0).Offset, last_offset + 64);
  EXPECT_EQ(S(form().Label2->text()), "Size: " + std::to_string(std::filesystem::file_size(path)));

  // A raw file that cannot be read: the error is shown, and archive and rows stay.
  const Bytes imported = testing::ReadFileBytes(path);
  std::filesystem::create_symlink(dir_.File("gone"), folder + "readme.txt");
  QTest::mouseClick(form().Button3, Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("readme.txt"), std::string::npos) << errors_[0];
  EXPECT_EQ(testing::ReadFileBytes(path), imported);
  EXPECT_EQ(Row(0).Offset, last_offset + 64);
  EXPECT_TRUE(form().Button3->isEnabled());

  // The window holds no lock while idle, so another run imports at once; the window's next
  // import then refuses rather than write over that run's edit.
  std::filesystem::remove(folder + "readme.txt");
  const std::string other = dir_.File("other/Unity_Assets_Files/level0/");
  std::filesystem::create_directories(other);
  testing::WriteFileBytes(other + "Last.mat", Bytes(30, 4));
  const auto run =
      testing::RunKestrix({"import", path, "-p", dir_.File("other")}, {"KESTRIX_LOCK_WAIT=0"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Bytes by_other = testing::ReadFileBytes(path);
  errors_.clear();
  QTest::mouseClick(form().Button3, Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("another run changed it"), std::string::npos) << errors_[0];
  EXPECT_EQ(testing::ReadFileBytes(path), by_other);
  // So does its export: the offsets it holds are those of the file it read.
  errors_.clear();
  QTest::mouseClick(form().Button2, Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("another run changed it"), std::string::npos) << errors_[0];
}

TEST_F(WindowTest, RawOggFileEmptyAssetFileAndFailedOpen) {
  const std::string ogg = dir_.File("music.ogg");
  Bytes sound = {'O', 'g', 'g', 'S', 0, 2};
  sound.resize(300, 7);
  testing::WriteFileBytes(ogg, sound);
  form().OpenPath(ogg);
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(form().Button2->isEnabled());
  EXPECT_FALSE(form().Button3->isEnabled());
  EXPECT_EQ(S(form().Label2->text()), "Size: 300");
  EXPECT_EQ(S(form().Label3->text()), "Version: OggS");
  EXPECT_EQ(S(form().Label4->text()), "Files: 1");
  EXPECT_EQ(Cell(0, kColumnName), "music");

  AssetSpec empty;
  const std::string empty_path = dir_.File("empty.assets");
  testing::WriteFileBytes(empty_path, testing::BuildAssetFile(empty));
  form().OpenPath(empty_path);
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(form().Button1->isEnabled());
  EXPECT_FALSE(form().Button2->isEnabled());
  EXPECT_FALSE(form().Button3->isEnabled());
  EXPECT_TRUE(form().ComboBox1->isEnabled());
  EXPECT_EQ(S(form().Label4->text()), "Files: 0");
  ASSERT_TRUE(errors_.empty());

  form().OpenPath(dir_.File("missing.assets"));
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_EQ(Rows(), 0);
  EXPECT_FALSE(form().Button2->isEnabled());
  EXPECT_EQ(form().ComboBox1->count(), 0);
  EXPECT_EQ(S(form().windowTitle()), std::string("Kestrix ") + KESTRIX_VERSION);
}

TEST_F(WindowTest, DroppedFileOpensAndClosingDeletesTheJoinedFile) {
  const Bytes bytes = testing::BuildAssetFile(RichSpec());
  const size_t half = bytes.size() / 2;
  testing::WriteFileBytes(dir_.File("level0.split0"), Bytes(bytes.begin(), bytes.begin() + half));
  testing::WriteFileBytes(dir_.File("level0.split1"), Bytes(bytes.begin() + half, bytes.end()));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir_.File("level0.split0")))});
  QDragEnterEvent enter(QPoint(100, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form(), &drop);
  for (int i = 0; i < 200 && Rows() != 10; ++i) QTest::qWait(10);
  ASSERT_EQ(Rows(), 10);
  const std::string joined = form().session().Archive.JoinedPath;
  EXPECT_TRUE(std::filesystem::exists(joined));
  EXPECT_EQ(S(form().windowTitle()),
            std::string("Kestrix ") + KESTRIX_VERSION + " - level0.split0");
  EXPECT_TRUE(form().close());
  EXPECT_FALSE(std::filesystem::exists(joined));
  EXPECT_EQ(testing::ListFiles(dir_.Path()),
            (std::vector<std::string>{"level0.split0", "level0.split1"}));
}

TEST_F(WindowTest, BundleChooserReopensAndClosingDeletesOnlyTheUnpackedFile) {
  const std::string bundle = dir_.File("demo.unity3d");
  testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.unity3d", bundle);
  form().OpenPath(bundle);
  ASSERT_TRUE(errors_.empty()) << errors_[0];
  EXPECT_EQ(Rows(), 20);
  ASSERT_EQ(form().ComboBox1->count(), 2);
  EXPECT_EQ(S(form().ComboBox1->itemText(0)), "/CAB-kestrixdemo/CAB-kestrixdemo");
  // The unpacked file sits beside the bundle under a name of this run's own.
  EXPECT_EQ(testing::ListFiles(dir_.Path()).size(), 2u);
  // The second contained file is a resource: it opens as one raw entry from the unpacked file.
  form().ComboBox1Click(1);
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(form().Button2->isEnabled());
  EXPECT_FALSE(form().Button3->isEnabled());
  form().ComboBox1Click(0);
  EXPECT_EQ(Rows(), 20);
  EXPECT_TRUE(form().close());
  EXPECT_EQ(testing::ListFiles(dir_.Path()), std::vector<std::string>{"demo.unity3d"});
}

TEST_F(WindowTest, ClosingAfterAPlainFileDeletesNothing) {
  const std::string path = WriteRichArchive(dir_);
  form().OpenPath(path);
  EXPECT_EQ(Rows(), 10);
  EXPECT_TRUE(form().close());
  EXPECT_EQ(testing::ListFiles(dir_.Path()), (std::vector<std::string>{"rich.assets"}));
}

TEST_F(WindowTest, ProgressFrameColourAndFade) {
  EXPECT_EQ(form().FrameColor(), QColor(157, 185, 235));
  form().ShowProgress(100);
  EXPECT_EQ(form().FrameColor(), QColor(190, 255, 180));
  form().ShowProgress(50);
  EXPECT_EQ(form().FrameColor(), QColor(173, 220, 208));  // 172.5, 220, 207.5 rounded
  form().Timer1Timer();
  EXPECT_EQ(form().FadeCounter(), 99);
  EXPECT_EQ(form().FrameColor(), QColor(190, 254, 181));
  form().Timer1->start();
  for (int i = 0; i < 99; ++i) form().Timer1Timer();
  EXPECT_EQ(form().FadeCounter(), 100);
  EXPECT_FALSE(form().Timer1->isActive());
  EXPECT_EQ(form().FrameColor(), QColor(155, 185, 235));
}

// The preview and the selection stay with the object, not the row position: after sorting
// (twice: descending, with the header's arrow), filtering, a search, and opening another archive.
TEST_F(WindowTest, PreviewFollowsTheSelectedObject) {
  form().ApplySizeRules(QSize(1920, 1080));
  form().OpenPath(WriteRichArchive(dir_));
  // A click: HERO.txt (entry 8) selected and focused.
  const QPoint at = form().ListView1->visualRect(form().model().index(7, 0)).center();
  QTest::mouseClick(form().ListView1->viewport(), Qt::LeftButton, {}, at);
  form().WaitForPreview();
  ASSERT_EQ(form().PreviewEntry(), 7);
  QHeaderView* header = form().ListView1->horizontalHeader();
  struct Step {
    int column;
    Qt::SortOrder order;
  };
  for (const Step& step : {Step{kColumnName, Qt::AscendingOrder},
                           Step{kColumnName, Qt::DescendingOrder}, Step{kColumnSize, Qt::AscendingOrder}}) {
    ClickHeader(step.column);
    form().WaitForPreview();
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorOrder(), step.order);
    ASSERT_EQ(form().SelectedRows().size(), 1u);
    EXPECT_EQ(Row(form().SelectedRows()[0]).Number, 8);
    EXPECT_EQ(Row(form().FocusedRow()).Number, 8);
    EXPECT_EQ(form().PreviewEntry(), 7);
    EXPECT_EQ(S(form().PreviewText->toPlainText()), "the needle is here");
  }
  ClickHeader(kColumnName);
  ClickHeader(kColumnName);
  EXPECT_EQ(Cell(0, kColumnName), "Zeta.mat");  // descending
  EXPECT_EQ(Cell(9, kColumnName), "alpha.tex");

  form().Loop_Search->setChecked(true);
  Search("readme");
  form().WaitForPreview();
  EXPECT_EQ(FocusedName(), "readme.txt");
  EXPECT_EQ(S(form().PreviewText->toPlainText()), "plain words");

  const std::string other = dir_.File("demo.assets");
  testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets", other);
  form().OpenPath(other);
  form().WaitForPreview();
  EXPECT_EQ(form().PreviewEntry(), -1);
  EXPECT_TRUE(form().PreviewText->toPlainText().isEmpty());
  EXPECT_FALSE(header->isSortIndicatorShown());
}

// The class filter lists the classes present, shows only the chosen one (sorted as the list
// is), keeps the selection that stays visible, and "Export all files" then writes what it shows.
TEST_F(WindowTest, TypeFilterShowsOneClassAndExportsWhatItShows) {
  form().OpenPath(WriteRichArchive(dir_));
  std::vector<std::string> choices;
  for (int i = 0; i < form().TypeFilter->count(); ++i)
    choices.push_back(S(form().TypeFilter->itemText(i)));
  EXPECT_EQ(choices, (std::vector<std::string>{"All", "GameObject", "Material", "MonoScript",
                                               "TextAsset", "Texture2D"}));
  ClickHeader(kColumnName);
  Select({4});  // HERO.txt
  auto choose = [this](const std::string& name) {
    const int i = form().TypeFilter->findText(QString::fromStdString(name));
    ASSERT_GE(i, 0);
    form().TypeFilter->setCurrentIndex(i);
    form().TypeFilterChanged(i);
  };
  choose("TextAsset");
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, kColumnName), "HERO.txt");
  EXPECT_EQ(Cell(1, kColumnName), "readme.txt");
  ASSERT_EQ(form().SelectedRows(), std::vector<int>{0});

  QTest::mouseClick(form().Button2, Qt::LeftButton);
  EXPECT_EQ(testing::ListFiles(dir_.File("Unity_Assets_Files/rich")),
            (std::vector<std::string>{"HERO.txt", "readme.txt"}));
  EXPECT_NE(form().Messages->Status().find("Exported 2 objects (the TextAsset objects shown)"),
            std::string::npos)
      << form().Messages->Status();
  EXPECT_EQ(form().Messages->StatusFolder(), dir_.File("Unity_Assets_Files/rich/"));

  // Back to all rows, in the sort in force; sorting while filtered sorts the hidden rows too.
  ClickHeader(kColumnName);  // descending
  choose("All");
  ASSERT_EQ(Rows(), 10);
  EXPECT_EQ(Cell(0, kColumnName), "Zeta.mat");
  EXPECT_EQ(Cell(9, kColumnName), "alpha.tex");
  ASSERT_EQ(form().SelectedRows().size(), 1u);
  EXPECT_EQ(Row(form().SelectedRows()[0]).Name, "HERO.txt");
}

// Failures of a run are lines of the message pane with one status line, never a box each.
TEST_F(WindowTest, ExportFailuresGoToTheMessagePaneWithOneStatus) {
  AssetSpec desc;
  for (int i = 0; i < 30; ++i) desc.objects.push_back({49, TextObject("t" + std::to_string(i), "x")});
  desc.objects.push_back({49, TextObject("fine", "y")});
  const std::string path = dir_.File("fails.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  // A folder where each of the 30 files would go: none of them can be written.
  for (int i = 0; i < 30; ++i)
    std::filesystem::create_directories(dir_.File("Unity_Assets_Files/fails/t" + std::to_string(i) + ".txt/x"));
  form().OpenPath(path);
  QTest::mouseClick(form().Button2, Qt::LeftButton);
  EXPECT_EQ(form().Messages->ErrorCount(), 30);
  EXPECT_TRUE(form().Messages->isVisible());
  EXPECT_NE(form().Messages->Status().find("Exported 1 object; 30 failed"), std::string::npos)
      << form().Messages->Status();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The close button empties the pane and gives its room back to the list.
  const int list_height = form().ListView1->height();
  QTest::mouseClick(form().Messages->findChild<QWidget*>("MessageClose"), Qt::LeftButton);
  EXPECT_FALSE(form().Messages->isVisible());
  EXPECT_GT(form().ListView1->height(), list_height);

  // An import with nothing changed says so.
  QTest::mouseClick(form().Button3, Qt::LeftButton);
  EXPECT_NE(form().Messages->Status().find("Nothing to import"), std::string::npos)
      << form().Messages->Status();
}

// Every command has its key, named in the list's menu, and the keys work in the window.
TEST_F(WindowTest, KeysForEveryCommand) {
  struct Key {
    QAction* action;
    const char* keys;
  };
  for (const Key& k : {Key{form().ActOpen, "Ctrl+O"}, Key{form().ActOpenFolder, "Ctrl+Shift+O"},
                       Key{form().ActFind, "Ctrl+F"},
                       Key{form().ActFindNext, "F3"}, Key{form().ActFindPrev, "Shift+F3"},
                       Key{form().BtnSelAll, "Ctrl+A"}, Key{form().ActExportAll, "Ctrl+E"},
                       Key{form().BtnExportSelOriginal, "Ctrl+Shift+E"},
                       Key{form().ActImportAll, "Ctrl+I"}}) {
    EXPECT_EQ(S(k.action->shortcut().toString()), k.keys) << S(k.action->objectName());
    EXPECT_TRUE(form().PopupMenu1->actions().contains(k.action)) << S(k.action->objectName());
  }
  form().OpenPath(WriteRichArchive(dir_));
  form().ListView1->setFocus();
  QTest::keyClick(&form(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(form().Find_Text->hasFocus());
  form().Find_Text->setText("ta.");
  form().ListView1->setFocus();
  QTest::keyClick(&form(), Qt::Key_F3);
  EXPECT_EQ(FocusedName(), "Zeta.mat");
  QTest::keyClick(&form(), Qt::Key_F3);
  EXPECT_EQ(FocusedName(), "beta.mat");
  QTest::keyClick(&form(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(FocusedName(), "Zeta.mat");
  QTest::keyClick(&form(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(form().SelectedRows().size(), 10u);
  QTest::keyClick(&form(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_NE(form().Messages->Status().find("Exported "), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("Unity_Assets_Files/rich/Zeta.mat")));
}

// A game folder opens as a tree of its archives (found by content, in sub-folders too) beside
// the list; choosing one opens it and the tree stays. The title names the folder and the archive.
TEST_F(WindowTest, GameFolderOpensAsATreeOfItsArchives) {
  std::filesystem::create_directories(dir_.File("Game/Data/sub"));
  testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets", dir_.File("Game/Data/level0"));
  testing::WriteFileBytes(dir_.File("Game/Data/sub/rich.assets"), testing::BuildAssetFile(RichSpec()));
  testing::WriteFileBytes(dir_.File("Game/readme.txt"), Bytes(100, 'x'));
  form().OpenPath(dir_.File("Game"));
  ASSERT_TRUE(form().ArchiveTree->isVisible());
  EXPECT_EQ(form().ArchiveTree->topLevelItemCount(), 1);  // Data
  QTreeWidgetItem* data = form().ArchiveTree->topLevelItem(0);
  ASSERT_EQ(data->childCount(), 2);
  EXPECT_EQ(S(data->child(0)->text(0)), "level0");
  ASSERT_EQ(data->child(1)->childCount(), 1);
  QTreeWidgetItem* rich = data->child(1)->child(0);
  EXPECT_EQ(S(rich->text(0)), "rich.assets");
  EXPECT_NE(form().Messages->Status().find("2"), std::string::npos) << form().Messages->Status();
  EXPECT_EQ(S(form().windowTitle()), std::string("Kestrix ") + KESTRIX_VERSION + " - Game/");
  QTest::mouseClick(form().ArchiveTree->viewport(), Qt::LeftButton, {},
                    form().ArchiveTree->visualItemRect(rich).center());
  EXPECT_EQ(Rows(), 10);
  EXPECT_TRUE(form().ArchiveTree->isVisible());
  EXPECT_EQ(S(form().windowTitle()),
            std::string("Kestrix ") + KESTRIX_VERSION + " - Game/ - rich.assets");
  EXPECT_LE(form().ArchiveTree->geometry().right(), form().ListView1->x());
  // An archive opened on its own puts the tree away.
  const std::string alone = dir_.File("demo.assets");
  testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets", alone);
  form().OpenPath(alone);
  EXPECT_FALSE(form().ArchiveTree->isVisible());
  EXPECT_EQ(form().ListView1->x(), 0);
}

TEST_F(WindowTest, SmallScreensGetASmallerWindow) {
  form().ApplySizeRules(QSize(1920, 1080));
  EXPECT_EQ(form().height(), 768);
  const int designed_width = form().width();
  EXPECT_EQ(designed_width, form().Label4->x() + form().Label4->width() + 80);
  form().ApplySizeRules(QSize(1024, 768));
  EXPECT_EQ(form().height(), 600);
  EXPECT_EQ(form().ListView1->geometry().bottom() + 1, form().TabControl1->y());
  EXPECT_EQ(form().TabControl1->geometry().bottom() + 1, form().height());
  // A small screen gets the smallest window whose controls stay whole.
  form().ApplySizeRules(QSize(800, 600));
  EXPECT_EQ(form().width(), std::min(designed_width, form().minimumWidth()));
  EXPECT_EQ(form().height(), 432);
}

// At the minimum size (asked for smaller), every control is whole and inside the window: the
// buttons keep their captions' width, the chooser and the filter stay wide enough to read.
TEST_F(WindowTest, MinimumSizeKeepsEveryControlUsable) {
  form().resize(500, 380);
  QTest::qWait(1);
  EXPECT_GE(form().width(), 500);
  const QRect window(QPoint(0, 0), form().size());
  form().resize(form().minimumSize());
  const QRect inside(QPoint(0, 0), form().size());
  for (QWidget* w : std::initializer_list<QWidget*>{
           form().Button1, form().Button2, form().Button3, form().ComboBox1, form().TypeFilter,
           form().ListView1, form().TabControl1}) {
    EXPECT_TRUE(inside.contains(w->geometry())) << S(w->objectName());
  }
  for (QWidget* w : std::initializer_list<QWidget*>{form().Find_Text, form().Find_Next,
                                                   form().Find_Pred, form().Items_Select,
                                                   form().Match_Case, form().Loop_Search}) {
    EXPECT_TRUE(QRect(QPoint(0, 0), form().TabControl1->size()).contains(w->geometry()))
        << S(w->objectName());
  }
  for (QPushButton* b : {form().Button1, form().Button2, form().Button3, form().Find_Next,
                         form().Find_Pred, form().Items_Select})
    EXPECT_GE(b->width(), b->sizeHint().width()) << S(b->objectName());
  EXPECT_GE(form().ComboBox1->width(), 150);
  EXPECT_GE(form().TypeFilter->width(), 150);
  // The Russian caption of the third button keeps the font of the others.
  EXPECT_EQ(form().Button3->font(), form().Button1->font());
}

TEST(WindowLanguage, RussianCaptions) {
  InitLocalization(kLangRussian);
  {
    TForm1 form;
    form.SetBoxSink([](bool, const std::string&) {});
    EXPECT_EQ(S(form.Button1->text()), "Открыть архив Unity");
    EXPECT_EQ(S(form.Button2->text()), "Извлечь все файлы");
    EXPECT_EQ(S(form.Find_Pred->text()), "Найти предыдущий");
    EXPECT_EQ(S(form.Loop_Search->text()), "Зациклить поиск");
    EXPECT_EQ(S(form.BtnExportSelSource->text()), "Извлечь исходными файлами");
    EXPECT_EQ(S(form.BtnExportJson->text()), "Извлечь как JSON");
    EXPECT_EQ(S(form.model().headerData(kColumnType, Qt::Horizontal, Qt::DisplayRole).toString()),
              "Тип");
    TempDir dir;
    const std::string path = dir.File("demo.assets");
    testing::CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets", path);
    form.OpenPath(path);
    EXPECT_EQ(S(form.Label1->text()), "Архив: ");
    EXPECT_EQ(S(form.Label3->text()), "Версия: 5.6.3f1 id: 17 " + PlatformName(5));
    EXPECT_EQ(S(form.Label4->text()), "Файлов: 20");
    EXPECT_EQ(form.Button3->font(), form.Button1->font());
    EXPECT_GE(form.Button3->width(), form.Button3->sizeHint().width());
  }
  InitLocalization(kLangEnglish);
  TForm1 english;
  EXPECT_EQ(S(english.Button1->text()), "Open archive…");
  EXPECT_EQ(S(english.Find_Pred->text()), "Find previous");
  EXPECT_EQ(S(english.Items_Select->text()), "Select matches");
  EXPECT_EQ(S(english.BtnExportSelSource->text()), "Export converted files");
  EXPECT_EQ(S(english.BtnExportJson->text()), "Export as JSON");
}

}  // namespace
}  // namespace kestrix
