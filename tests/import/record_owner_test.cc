// An export folder belongs to the archive its record names: another archive that lands on it
// (through -p, or a folder an older Kestrix shared between two archives) is refused, and an
// import takes only files the record lists. Records that name no archive read as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/error.h"
#include "core/session.h"
#include "export/export_driver.h"
#include "export/export_record.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

Bytes Objects(uint8_t fill) {
  AssetSpec desc;
  desc.objects = {{21, NamedObject("Zeta", Bytes(40, fill))},
                  {21, NamedObject("Beta", Bytes(24, fill))}};
  return BuildAssetFile(desc);
}

OpenOptions Into(const std::string& root) {
  OpenOptions options;
  options.OutputRootGiven = true;
  options.OutputRootOption = root;
  return options;
}

void Export(const std::string& archive, const std::string& root) {
  Session s;
  RecordingFrontend fe;
  OpenArchive(s, fe, archive, Into(root));
  ExportRequest request;
  request.Switches.ExportSource = true;
  ExportEntries(s, request, fe, {0, 1});
}

ImportResult Import(const std::string& archive, const std::string& root, RecordingFrontend& fe) {
  Session s;
  OpenArchive(s, fe, archive, Into(root));
  return ImportAll(s, ImportRequest(), fe, ImportConverters());
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The raw file export wrote for the object named `name` ("Beta.mat", say).
std::string RawFile(const std::string& folder, const std::string& name) {
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind(name, 0) == 0) return e.path().string();
  return folder + name;
}

// The record without the lines that start with `prefix`.
void DropLines(const std::string& record, const std::string& prefix) {
  std::istringstream in(ReadText(record));
  std::string kept;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) != 0) kept += line + "\n";
  std::ofstream(record, std::ios::binary) << kept;
}

TEST(RecordOwner, AnotherArchivesFolderIsRefused) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("a"));
  std::filesystem::create_directories(dir.File("b"));
  // Both land on "Unity_Assets_Files/x" under one -p folder.
  WriteFileBytes(dir.File("a/x.assets"), Objects(1));
  WriteFileBytes(dir.File("b/x.bundle"), Objects(2));
  const std::string out = dir.File("out");
  Export(dir.File("a/x.assets"), out);
  const std::string folder = out + "/Unity_Assets_Files/x/";
  const Bytes zeta = ReadFileBytes(RawFile(folder, "Zeta"));
  try {
    Export(dir.File("b/x.bundle"), out);
    ADD_FAILURE() << "export into another archive's folder";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("holds the export of x.assets"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(ReadFileBytes(RawFile(folder, "Zeta")), zeta);
  RecordingFrontend fe;
  EXPECT_THROW(Import(dir.File("b/x.bundle"), out, fe), Error);
  EXPECT_EQ(ReadFileBytes(dir.File("b/x.bundle")), Objects(2));
}

TEST(RecordOwner, ImportTakesOnlyListedFilesUnlessTheRecordIsOld) {
  struct Case {
    const char* dropped;  // record lines removed after export
    bool taken;           // the edited file goes in
    size_t replaced;      // objects written: a record without file notes takes every file
  };
  // Unlisted in a record that names its archive: another's file. With no owner line (an older
  // record) the folder is read as it always was.
  const Case cases[] = {{"f\t", false, 0}, {"a\t", true, 2}, {"zzz", true, 1}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string archive = dir.File("level0");
    WriteFileBytes(archive, Objects(1));
    Export(archive, dir.Path());
    const std::string folder = dir.File("Unity_Assets_Files/level0/");
    DropLines(folder + kExportRecordName, c.dropped);
    if (std::string(c.dropped) == "a\t") DropLines(folder + kExportRecordName, "f\t");
    const std::string beta = RawFile(folder, "Beta");
    Bytes edited = ReadFileBytes(beta);
    edited.back() ^= 0xFF;
    WriteFileBytes(beta, edited);
    RecordingFrontend fe;
    const ImportResult r = Import(archive, dir.Path(), fe);
    EXPECT_EQ(r.replaced, c.replaced) << c.dropped;
    EXPECT_EQ(ReadFileBytes(archive) != Objects(1), c.taken) << c.dropped;
    EXPECT_TRUE(fe.errors.empty()) << c.dropped;
  }
}

}  // namespace
}  // namespace kestrix
