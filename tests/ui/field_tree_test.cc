// Objects with a known layout in the window: the field tree of the preview pane, "Export as
// JSON" in the list's menu, and a UI text edited through JSON and found by the data search.
#include "ui/field_tree.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <map>

#include "core/localization.h"
#include "platform/language.h"
#include "support/asset_builder.h"
#include "support/test_env.h"
#include "ui/list_model.h"
#include "ui/main_window.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using testing::AssetSpec;
using testing::ByteWriter;
using testing::TreeField;

std::string S(const QString& q) { return q.toStdString(); }

constexpr uint32_t kValues = 250000;
constexpr uint32_t kEntries = 150;
constexpr uint32_t kGreeted = 137;  // the entry whose key is the text searched for
const char kGreeting[] = "Привет, мир";

// One object of class 150 with strings, a packed array of a quarter million numbers, an array of
// structures with references, a float and a small vector; one of class 21 without a tree.
std::string WriteFieldArchive(const testing::TempDir& dir) {
  AssetSpec desc;
  desc.type_trees = true;
  const uint32_t kAligned = 0x4000;
  desc.class_trees = {{150,
                       {{"string", "m_Name"},
                        {"vector", "m_Values", 1, -1},
                        {"Array", "Array", 2, -1, 1},
                        {"int", "size", 3},
                        {"int", "data", 3},
                        {"vector", "m_Entries", 1, -1},
                        {"Array", "Array", 2, -1, 1},
                        {"int", "size", 3},
                        {"Entry", "data", 3, -1},
                        {"string", "m_Key", 4, -1, 0, kAligned},
                        {"Array", "Array", 5, -1, 1},
                        {"int", "size", 6},
                        {"char", "data", 6, 1},
                        {"PPtr<Object>", "m_Target", 4, 12},
                        {"int", "m_FileID", 5},
                        {"SInt64", "m_PathID", 5, 8},
                        {"float", "m_Scale", 1},
                        {"Vector3f", "m_Offset", 1, 12},
                        {"float", "x", 2},
                        {"float", "y", 2},
                        {"float", "z", 2}}}};
  ByteWriter w;
  w.Str("fields").U32(kValues);
  for (uint32_t k = 0; k < kValues; ++k) w.U32(k * 3);
  w.U32(kEntries);
  for (uint32_t k = 0; k < kEntries; ++k)
    w.Str(k == kGreeted ? kGreeting : "key " + std::to_string(k)).U32(0).U64(k);
  w.F32(1.5f).F32(1).F32(2).F32(3);
  ByteWriter other;
  other.Str("other").U32(7);
  desc.objects = {{150, w.Take()}, {21, other.Take()}};
  const std::string path = dir.File("fields.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  return path;
}

// The files below `folder`'s "Json" folders, by name, with their text.
std::map<std::string, std::string> JsonFiles(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && e.path().parent_path().filename() == "Json") {
      const testing::Bytes b = testing::ReadFileBytes(e.path().string());
      out[e.path().filename().string()] = std::string(b.begin(), b.end());
    }
  return out;
}

class FieldTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocalization(kLangEnglish);
    form_ = std::make_unique<TForm1>();
    form_->SetBoxSink([this](bool error, const std::string& text) {
      if (error) errors_.push_back(text);
    });
    form_->show();
    form_->ApplySizeRules(QSize(1920, 1080));  // the pane shows beside the list
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  TForm1& form() { return *form_; }
  FieldTreeView& tree() { return *form().FieldPreview; }
  int RowOfClass(int32_t cls) {
    const auto& rows = form().model().Rows();
    for (size_t r = 0; r < rows.size(); ++r)
      if (rows[r].ClassId == cls) return static_cast<int>(r);
    return -1;
  }
  void Select(int row) {
    form().ListView1->clearSelection();
    form().ListView1->selectionModel()->select(
        form().model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form().WaitForPreview();
  }
  static std::vector<std::string> Texts(const QTreeWidgetItem* item) {
    return {S(item->text(0)), S(item->text(1)), S(item->text(2))};
  }
  static std::vector<std::string> ChildNames(const QTreeWidgetItem* item) {
    std::vector<std::string> names;
    for (int c = 0; c < item->childCount(); ++c) names.push_back(S(item->child(c)->text(0)));
    return names;
  }

  testing::TempDir dir_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> errors_;
};

TEST_F(FieldTreeTest, FieldsShowWithTypesAndLargeArraysOpenByRanges) {
  form().OpenPath(WriteFieldArchive(dir_));
  ASSERT_TRUE(errors_.empty()) << errors_[0];
  Select(RowOfClass(21));  // no tree: the bytes as hex
  EXPECT_FALSE(tree().isVisible());
  EXPECT_TRUE(form().PreviewText->isVisible());
  Select(RowOfClass(150));
  ASSERT_TRUE(tree().isVisible());
  EXPECT_FALSE(form().PreviewText->isVisible());
  const std::vector<std::vector<std::string>> top = {{"m_Name", "string", "fields"},
                                                     {"m_Values", "vector<int>", "250000 elements"},
                                                     {"m_Entries", "vector<Entry>", "150 elements"},
                                                     {"m_Scale", "float", "1.5"},
                                                     {"m_Offset", "Vector3f", "(1, 2, 3)"}};
  ASSERT_EQ(tree().topLevelItemCount(), static_cast<int>(top.size()));
  for (int i = 0; i < tree().topLevelItemCount(); ++i) {
    EXPECT_EQ(Texts(tree().topLevelItem(i)), top[static_cast<size_t>(i)]);
    // Nothing below a field is made before it opens.
    EXPECT_EQ(tree().topLevelItem(i)->childCount(), 0) << i;
  }

  // A quarter million numbers open as 25 ranges, each as 100 ranges of 100 elements.
  QTreeWidgetItem* values = tree().topLevelItem(1);
  values->setExpanded(true);
  ASSERT_EQ(values->childCount(), 25);
  EXPECT_EQ(S(values->child(0)->text(0)), "[0 … 9999]");
  EXPECT_EQ(S(values->child(24)->text(0)), "[240000 … 249999]");
  QTreeWidgetItem* last = values->child(24);
  last->setExpanded(true);
  ASSERT_EQ(last->childCount(), 100);
  QTreeWidgetItem* page = last->child(99);
  EXPECT_EQ(S(page->text(0)), "[249900 … 249999]");
  page->setExpanded(true);
  ASSERT_EQ(page->childCount(), 100);
  EXPECT_EQ(Texts(page->child(99)), (std::vector<std::string>{"[249999]", "int", "749997"}));

  QTreeWidgetItem* entries = tree().topLevelItem(2);
  entries->setExpanded(true);
  EXPECT_EQ(ChildNames(entries), (std::vector<std::string>{"[0 … 99]", "[100 … 149]"}));

  // The data search's text is opened down to the field that holds it.
  ASSERT_TRUE(tree().Reveal(kGreeting));
  QTreeWidgetItem* found = tree().currentItem();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Texts(found), (std::vector<std::string>{"m_Key", "string", kGreeting}));
  QTreeWidgetItem* element = found->parent();
  EXPECT_EQ(S(element->text(0)), "[" + std::to_string(kGreeted) + "]");
  EXPECT_EQ(element->parent(), entries->child(1));
  EXPECT_EQ(Texts(element->child(1)),
            (std::vector<std::string>{"m_Target", "PPtr<Object>",
                                      "file 0, path id " + std::to_string(kGreeted)}));
  EXPECT_FALSE(tree().Reveal("no field holds this"));
  EXPECT_EQ(tree().currentItem(), found);
}

TEST_F(FieldTreeTest, ExportAsJsonWritesWhatTheCommandLineWritesForTheSelection) {
  const std::string archive = WriteFieldArchive(dir_);
  testing::TempDir cli;
  ASSERT_EQ(testing::RunKestrix({"export", archive, "-t", "json", "-p", cli.Path(), "-ndc"}).status,
            0);
  const std::map<std::string, std::string> all = JsonFiles(cli.Path());
  ASSERT_EQ(all.size(), 1u);  // the object without a tree is passed over

  form().OpenPath(archive);
  for (int32_t cls : {150, 21}) {
    Select(RowOfClass(cls));
    form().BtnExportJson->trigger();
  }
  EXPECT_TRUE(errors_.empty()) << errors_[0];
  EXPECT_EQ(JsonFiles(dir_.Path()), all);
  // Only JSON: no raw copies beside it.
  for (const auto& e : fs::recursive_directory_iterator(dir_.Path()))
    EXPECT_FALSE(e.is_regular_file() && e.path().parent_path().filename() != "Json" &&
                 e.path().filename() != ".kestrix-export" && e.path().filename() != "fields.assets")
        << e.path();
}

// A UI text of a real bundle, translated through JSON on the command line, then found by the
// window's data search, which opens the field tree down to it.
TEST_F(FieldTreeTest, CorpusTextEditedThroughJsonIsFoundByTheDataSearch) {
  const std::string source = testing::CorpusDir() + "/bundles/unityweb/UGUItoCallBack_u501.unity3d";
  if (testing::CorpusDir().empty() || !fs::exists(source)) GTEST_SKIP() << "no corpus";
  const std::string bundle = dir_.File("ugui.unity3d");
  testing::CopyFile(source, bundle);
  fs::permissions(bundle, fs::perms::owner_write, fs::perm_options::add);
  testing::TempDir out;
  // The level with the UI: its Text components say "Tokyo" and "Osaka".
  const std::vector<std::string> level = {"-i", "4", "-p", out.Path(), "-ndc"};
  auto run = [&](const std::string& task, std::vector<std::string> args) {
    args.insert(args.begin(), {task, bundle});
    args.insert(args.end(), level.begin(), level.end());
    return testing::RunKestrix(args);
  };
  ASSERT_EQ(run("export", {"-t", "json"}).status, 0);
  std::string edited;
  for (const auto& e : fs::recursive_directory_iterator(out.Path())) {
    if (e.path().extension() != ".json") continue;
    const testing::Bytes b = testing::ReadFileBytes(e.path().string());
    std::string text(b.begin(), b.end());
    const size_t at = text.find("\"m_Text\": \"Osaka\"");
    if (at == std::string::npos) continue;
    text.replace(at, 17, "\"m_Text\": \"Осака — столица кансая\"");
    testing::WriteFileBytes(e.path().string(), testing::Bytes(text.begin(), text.end()));
    edited = e.path().stem().string();
  }
  ASSERT_FALSE(edited.empty());
  const auto imported = run("import", {});
  ASSERT_EQ(imported.status, 0) << imported.err;

  form().OpenPath(bundle);
  form().ComboBox1Click(4);
  ASSERT_TRUE(errors_.empty()) << errors_[0];
  form().ModeST->click();
  form().Loop_Search->setChecked(true);
  form().Find_Text->setText(QString::fromUtf8("столица кансая"));
  QTest::mouseClick(form().Find_Next, Qt::LeftButton);
  form().WaitForPreview();
  const int row = form().FocusedRow();
  ASSERT_GE(row, 0);
  EXPECT_EQ(form().model().Rows()[static_cast<size_t>(row)].Name, edited);
  ASSERT_TRUE(tree().isVisible());
  ASSERT_NE(tree().currentItem(), nullptr);
  EXPECT_EQ(Texts(tree().currentItem()),
            (std::vector<std::string>{"m_Text", "string", "Осака — столица кансая"}));
  // The object no longer holds the old text (game objects named after it still do), and the
  // other label is still there.
  auto matches = [&](const char* text) {
    form().Find_Text->setText(text);
    QTest::mouseClick(form().Items_Select, Qt::LeftButton);
    return form().SelectedRows();
  };
  const std::vector<int> old_text = matches("Osaka");
  EXPECT_EQ(std::count(old_text.begin(), old_text.end(), row), 0);
  const std::vector<int> other = matches("Tokyo");
  EXPECT_FALSE(other.empty());
  EXPECT_EQ(std::count(other.begin(), other.end(), row), 0);
}

}  // namespace
}  // namespace kestrix
