#include "app/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "app/help_text.h"
#include "app/tasks.h"
#include "core/session.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::RunKestrix;
using testing::TempDir;

TEST(TypeWords, TranslateAndTurnOnSwitches) {
  ExportSwitches sw;
  auto words = TranslateTypeWords("TEX,114,Dds,ogg,28,unknownword", sw);
  EXPECT_EQ(words,
            (std::vector<std::string>{"28", "114", "28", "83", "28", "unknownword", "89", "186"}));
  EXPECT_TRUE(sw.ExportRawTextures);
  EXPECT_TRUE(sw.ExportDds);
  EXPECT_TRUE(sw.ExportSource);
  EXPECT_FALSE(sw.ExportKtx);
  EXPECT_FALSE(sw.ExportRawAudio);
  ExportSwitches sw2;
  EXPECT_EQ(TranslateTypeWords("ktx,pvr,snd,mesh,obj,cbm,ptex,amgc,fnt", sw2),
            (std::vector<std::string>{"28", "28", "83", "43", "43", "89", "186", "241", "128"}));
  EXPECT_TRUE(sw2.ExportKtx && sw2.ExportPvr && sw2.ExportRawAudio && sw2.ExportRawMeshes &&
              sw2.ExportObj);
  EXPECT_FALSE(sw2.ExportDds || sw2.ExportCrn);
}

TEST(ParseCommandLine, OptionsBeforeOrAfterTheArchive) {
  {
    CommandLine cl =
        ParseCommandLine({"EXPORT", "Level0.assets", "-t", "dds", "-P", "/Out/Dir", "-nft"});
    EXPECT_EQ(cl.Problem, "");
    EXPECT_EQ(cl.task, "export");
    EXPECT_EQ(cl.archive, "Level0.assets");
    EXPECT_EQ(cl.TypeFilter, (std::vector<std::string>{"28", "89", "186"}));
    EXPECT_TRUE(cl.open.OutputRootGiven);
    EXPECT_EQ(cl.open.OutputRootOption, "/Out/Dir");  // keeps its case
    EXPECT_TRUE(cl.export_request.NoTextureFlip);
    EXPECT_FALSE(cl.open.FontContainer);
    EXPECT_TRUE(cl.export_request.Switches.ExportDds);
    EXPECT_FALSE(cl.export_request.Switches.ExportRawTextures);
  }
  {
    // Two -t options add up; "--" lets an archive's name begin with "-".
    CommandLine cl = ParseCommandLine({"list", "-t", "tex", "-F", "-T", "-3", "--", "-a.assets"});
    EXPECT_EQ(cl.Problem, "");
    EXPECT_EQ(cl.archive, "-a.assets");
    EXPECT_TRUE(cl.open.FontContainer);
    EXPECT_EQ(cl.TypeFilter, (std::vector<std::string>{"28", "-3"}));
    EXPECT_EQ(cl.TypeWords, (std::vector<std::string>{"tex", "-3"}));
  }
  {
    CommandLine cl = ParseCommandLine({"export", "-ndc", "a", "-i", "12"});
    const ExportSwitches& w = cl.export_request.Switches;
    EXPECT_EQ(cl.open.SelectedFileIndex, 12);
    EXPECT_TRUE(cl.NoConsoleDetect);
    EXPECT_FALSE(cl.ConsoleOutput);
    // Without -t every switch but KTX is on.
    EXPECT_TRUE(w.ExportSource && w.ExportRawTextures && w.ExportDds && w.ExportCrn &&
                w.ExportPvr && w.ExportRawAudio && w.ExportRawMeshes && w.ExportObj);
    EXPECT_FALSE(w.ExportKtx);
  }
}

// Every refused line: status 2 before any file is looked at, nothing on standard output, and on
// standard error one line that names the problem, then the usage in the interface language.
TEST(Program, RefusedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string problem;  // part of the one message line
    bool russian = false;
  };
  const Case cases[] = {
      {{"frobnicate", "a.assets"}, "Unknown task \"frobnicate\""},
      {{"frobnicate", "a.assets", "-ndc"}, "Unknown task \"frobnicate\""},
      {{"export", "a.assets", "-x"}, "Unknown option \"-x\""},
      {{"list", "--types", "tex", "a.assets"}, "Unknown option \"--types\""},
      {{"export", "a.assets", "-p"}, "-p needs a value (folder)"},
      {{"export", "a.assets", "-p", "-NFT"}, "-p needs a value (folder)"},
      {{"export", "a.assets", "-t"}, "-t needs a value (types)"},
      {{"export", "a.assets", "-i", "two"}, "-i needs the index of a contained file"},
      {{"export", "a.assets", "-i", "-3"}, "not \"-3\""},
      {{"export", "a.assets", "-i", ""}, "-i needs the index of a contained file"},
      {{"export", "a.assets", "-t", "tex,textures"}, "\"textures\" is neither a type word"},
      {{"import", "a.assets", "-t", "tex,,dds"}, "has an empty type word"},
      {{"export", "a.assets", "-t", "t*"}, "\"t*\" is neither a type word"},
      {{"export", "a.assets", "-p", ""}, "-p needs a folder"},
      {{"export", "a.assets", "b.assets"}, "Two archives given (\"a.assets\" and \"b.assets\")"},
      {{"export", "-t", "tex"}, "No archive given."},
      {{"list", "a.assets", "-x"}, "Unknown option \"-x\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto r = RunKestrix(c.args, {c.russian ? "LC_ALL=ru_RU.UTF-8" : "LC_ALL=C"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.out, "");
    const size_t line_end = r.err.find('\n');
    ASSERT_NE(line_end, std::string::npos) << r.err;
    EXPECT_NE(r.err.substr(0, line_end).find(c.problem), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(line_end + 1), UsageText(c.russian));
  }
}

// One existing file or folder and no task is what a file manager runs: the window, opened with
// it (here without a display, so it says why it cannot open), never the usage.
TEST(Program, ArchiveAloneOpensTheWindow) {
  TempDir dir;
  const std::string archive = dir.File("level0");
  testing::WriteFileBytes(archive, testing::Bytes(64, 1));
  for (const std::string& target : {archive, dir.Path()}) {
    auto r = RunKestrix({target}, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    EXPECT_EQ(r.status, kExitFailed) << r.err;
    EXPECT_NE(r.err.find("window"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunKestrix({dir.File("missing")}).status, kExitUsage);
}

std::string Golden(const char* name) {
  std::string path = std::string(KESTRIX_SAMPLES_DIR) + "/../tests/app/" + name;
  auto bytes = testing::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(HelpText, ByteForByteInBothLanguages) {
  EXPECT_EQ(HelpText(false), Golden("help_en.txt"));
  EXPECT_EQ(HelpText(true), Golden("help_ru.txt"));
}

// The help is what a user reads to learn the program: it must name every task and option, and
// only what this program runs (no tool of another system).
TEST(HelpText, NamesEveryTaskAndOption) {
  for (bool russian : {false, true}) {
    const std::string help = HelpText(russian);
    for (const std::string& task : TaskNames())
      EXPECT_NE(help.find("  " + task + " "), std::string::npos) << task;
    for (const std::string& option : OptionNames())
      EXPECT_NE(help.find("  " + option + " "), std::string::npos) << option;
    EXPECT_EQ(help.find(".exe"), std::string::npos);
    EXPECT_EQ(help.find(UsageText(russian)), help.find(russian ? "Использование" : "Usage"));
  }
}

TEST(Program, HelpAndVersion) {
  auto en = RunKestrix({"--help"}, {"LC_ALL=C", "LANG=C"});
  EXPECT_EQ(en.status, 0);
  EXPECT_EQ(en.out, HelpText(false));
  auto ru = RunKestrix({"help"}, {"LC_ALL=", "LC_MESSAGES=", "LANG=ru_RU.UTF-8"});
  EXPECT_EQ(ru.status, 0);
  EXPECT_EQ(ru.out, HelpText(true));
  auto h = RunKestrix({"-h"}, {"LC_ALL=uk_UA.UTF-8"});
  EXPECT_EQ(h.out, HelpText(false));
  // Asking for help anywhere on a line gets it, whatever else the line holds.
  auto late = RunKestrix({"export", "x", "-t", "nonsense", "--HELP"}, {"LC_ALL=C"});
  EXPECT_EQ(late.status, 0);
  EXPECT_EQ(late.out, HelpText(false));
  auto version = RunKestrix({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("Kestrix ", 0), 0u);
}

TEST(Program, NoArgumentsWithoutADisplayFailsWithAMessage) {
  // LD_DEBUG=files: the loader names every object it maps, dlopen'ed ones too.
  auto r = RunKestrix({}, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LD_DEBUG=files"});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("kestrix --help"), std::string::npos) << r.err;
#ifdef KESTRIX_WINDOW_MODULE
  // The check for a display belongs to the window, so it is the module that says so.
  EXPECT_NE(r.err.find(KESTRIX_WINDOW_MODULE), std::string::npos) << r.err;
#endif
}

#ifndef _WIN32  // the loader trace is glibc's; the Windows program is one static file
// Qt and what it pulls in cost every run about 10 MB and start-up time: tasks must not load it.
TEST(Program, TasksLoadNoQt) {
  auto r =
      RunKestrix({"list", std::string(KESTRIX_SAMPLES_DIR) + "/demo.assets"}, {"LD_DEBUG=files"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("liblzma"), std::string::npos) << "no loader trace: " << r.err;
  EXPECT_EQ(r.err.find("libQt"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("kestrix-window"), std::string::npos) << r.err;
}
#endif

#ifdef KESTRIX_WINDOW_MODULE
TEST(Program, NoArgumentsRunTheWindowFromItsModule) {
  // The offscreen platform plugin is mapped once the QApplication is up; the window is built and
  // its event loop entered right after, so a second later the program must still be running.
  int polls_with_window = 0;
  auto r = testing::RunKestrixUntil(
      {}, {"QT_QPA_PLATFORM=offscreen"},
      [&](int pid) {
        auto maps = testing::ReadFileBytes("/proc/" + std::to_string(pid) + "/maps");
        std::string text(maps.begin(), maps.end());
        bool up = text.find(KESTRIX_WINDOW_MODULE) != std::string::npos &&
                  text.find("libqoffscreen") != std::string::npos;
        polls_with_window = up ? polls_with_window + 1 : 0;
        return polls_with_window >= 20;
      },
      std::chrono::seconds(60));
  EXPECT_EQ(r.signal, SIGTERM) << "status " << r.status << ": " << r.err;
}

TEST(Program, AMissingOrBrokenWindowModuleIsReported) {
  TempDir dir;
  std::string copy = dir.File("kestrix");
  testing::CopyFile(KESTRIX_BINARY, copy);
  for (bool present : {false, true}) {
    if (present) testing::WriteFileBytes(dir.File(KESTRIX_WINDOW_MODULE), testing::Bytes(16));
    auto r = testing::RunProgram(copy, {}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    // One line that names the module (the loader's reason) and the way to run without a window.
    EXPECT_NE(r.err.find(dir.File(KESTRIX_WINDOW_MODULE)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kestrix --help"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}
#endif

TEST(Program, MissingArchiveIsReportedInTheInterfaceLanguage) {
  auto en = RunKestrix({"export", "/no/such/file.assets"}, {"LC_ALL=C"});
  EXPECT_EQ(en.status, 1);
  EXPECT_EQ(en.err, "Archive not found: /no/such/file.assets\n");
  auto ru = RunKestrix({"export", "nothing"}, {"LC_ALL=ru_RU.UTF-8"});
  EXPECT_EQ(ru.status, 1);
  EXPECT_EQ(ru.err, "Архив не найден: nothing\n");
}

TEST(Program, BadArchivesFailWithAMessage) {
  TempDir dir;
  testing::AssetSpec desc;
  desc.objects = {{1, testing::Bytes(16)}};
  testing::Bytes good = testing::BuildAssetFile(desc);
  testing::Bytes cut(good.begin(), good.begin() + 40);
  testing::WriteFileBytes(dir.File("cut.assets"), cut);
  auto r = RunKestrix({"export", dir.File("cut.assets"), "-p", dir.File("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.err, "");
  testing::WriteFileBytes(dir.File("good.assets"), good);
  auto ok = RunKestrix({"export", dir.File("good.assets"), "-p", dir.File("out")});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out.rfind("export\n\n", 0), 0u) << ok.out;
}

TEST(Program, CleanupRemovesTheJoinedFileOnly) {
  TempDir dir;
  testing::AssetSpec desc;
  desc.objects = {{1, testing::Bytes(16)}, {1, testing::Bytes(16)}};
  testing::Bytes file = testing::BuildAssetFile(desc);
  size_t half = file.size() / 2;
  testing::WriteFileBytes(dir.File("level0.split0"),
                          testing::Bytes(file.begin(), file.begin() + half));
  testing::WriteFileBytes(dir.File("level0.split1"),
                          testing::Bytes(file.begin() + half, file.end()));
  auto r = RunKestrix({"export", dir.File("level0.split0"), "-p", dir.File("out")});
  EXPECT_EQ(r.status, 0) << r.err;
  auto files = testing::ListFiles(dir.Path());
  EXPECT_TRUE(std::find(files.begin(), files.end(), "level0") == files.end());
  EXPECT_TRUE(std::find(files.begin(), files.end(), "level0.split0") != files.end());
  EXPECT_TRUE(std::find(files.begin(), files.end(), "level0.split1") != files.end());
}

}  // namespace
}  // namespace kestrix
