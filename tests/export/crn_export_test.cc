// Crunched textures: the .crn file, and the external tool's command line.
#include "export/crn_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "export/converter.h"
#include "platform/file_ops.h"
#include "platform/process.h"
#include "support/converter_rig.h"
#include "support/tool_checks.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ConverterRig;
using testing::TextureSpec;

// A stand-in for the tool: records its name and arguments, and copies -file to -out.
void InstallFakeTool(const std::string& folder, const std::string& name) {
  std::string path = folder + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n"
                         "d=$(dirname \"$0\")\n"
                         "basename \"$0\" > \"$d/ran.txt\"\n"
                         "printf '%s\\n' \"$@\" > \"$d/args.txt\"\n"
                         "cp \"$4\" \"$2\"\n";
  ::chmod(path.c_str(), 0755);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TextureSpec Crunched(int images = 1) {
  TextureSpec s;
  s.format = 29;
  s.width = s.height = 64;
  s.image_count = images;
  for (int i = 0; i < 37 * images; ++i) s.images.push_back(static_cast<uint8_t>(i + 1));
  return s;
}

void RunCrn(ConverterRig& rig, const Bytes& payload, const std::string& tool_folder) {
  Bytes file(payload);
  MemorySource source(file);
  Reader reader(source);
  ConverterCall call{
      reader, static_cast<uint32_t>(payload.size()), false, rig.Base(), rig.relative, "rock.tex"};
  ConverterContext ctx(rig.session, rig.request, rig.frontend);
  ExportCrnWithTool(call, ctx, tool_folder);
}

TEST(CrnExport, WritesTheCrnFileAndRunsTheToolOnIt) {
  if (!testing::kLinuxToolsRun) GTEST_SKIP() << "the stand-in crunch tool is a shell script";
  ConverterRig rig;
  rig.request.Switches.ExportDds = true;
  testing::TempDir tools;
  InstallFakeTool(tools.Path(), "crunch.exe");
  InstallFakeTool(tools.Path(), "crunch_x64.exe");
  TextureSpec desc = Crunched(2);  // only the first image is the crunched file
  RunCrn(rig, testing::Texture2DPayload(desc), tools.Path() + "/");

  const std::string d = rig.Out("rock.tex");
  EXPECT_EQ(testing::ReadFileBytes(d + ".crn"),
            Bytes(desc.images.begin(), desc.images.begin() + 37));
  EXPECT_EQ(Slurp(tools.File("ran.txt")), "crunch.exe\n");
  EXPECT_EQ(Slurp(tools.File("args.txt")), "-out\n" + d + ".crn.dds\n-file\n" + d + ".crn\n");
  EXPECT_TRUE(FileExists(d + ".crn.dds"));
  EXPECT_EQ(rig.frontend.lines,
            (std::vector<std::string>{"rock.tex -> CRN", "rock.tex.crn -> DDS"}));
}

TEST(CrnExport, TheSixtyFourBitToolIsTheFallback) {
  if (!testing::kLinuxToolsRun) GTEST_SKIP() << "the stand-in crunch tool is a shell script";
  ConverterRig rig;
  rig.request.Switches.ExportDds = true;
  testing::TempDir tools;
  InstallFakeTool(tools.Path(), "crunch_x64.exe");
  EXPECT_EQ(CrunchToolPath(tools.Path() + "/"), tools.Path() + "/crunch_x64.exe");
  RunCrn(rig, testing::Texture2DPayload(Crunched()), tools.Path() + "/");
  EXPECT_EQ(Slurp(tools.File("ran.txt")), "crunch_x64.exe\n");
}

TEST(CrnExport, TheToolBuiltForThisSystemComesFirst) {
  testing::TempDir tools;
  InstallFakeTool(tools.Path(), "crunch.exe");
  InstallFakeTool(tools.Path(), "crunch");
  EXPECT_EQ(CrunchToolPath(tools.Path() + "/"), tools.Path() + "/crunch");
}

TEST(CrnExport, WithoutDdsOrWithoutToolOnlyTheCrnFileIsWritten) {
  testing::TempDir tools;
  InstallFakeTool(tools.Path(), "crunch.exe");
  {
    ConverterRig rig;  // "-t crn": DDS output is off
    RunCrn(rig, testing::Texture2DPayload(Crunched()), tools.Path() + "/");
    EXPECT_EQ(testing::ListFiles(rig.Base() + rig.relative),
              (std::vector<std::string>{"rock.tex.crn"}));
    EXPECT_FALSE(FileExists(tools.File("ran.txt")));
  }
  {
    ConverterRig rig;
    rig.request.Switches.ExportDds = true;
    testing::TempDir empty;
    RunCrn(rig, testing::Texture2DPayload(Crunched()), empty.Path() + "/");
    EXPECT_EQ(testing::ListFiles(rig.Base() + rig.relative),
              (std::vector<std::string>{"rock.tex.crn"}));
    EXPECT_EQ(rig.frontend.lines, (std::vector<std::string>{"rock.tex -> CRN"}));
    EXPECT_TRUE(rig.frontend.messages.empty());
  }
}

TEST(CrnExport, StreamedDataAndMissingResources) {
  ConverterRig rig;
  TextureSpec desc = Crunched();
  desc.layout = 3;
  desc.resource_path = "sharedassets1.assets.resS";
  desc.resource_offset = 12;
  try {
    RunCrn(rig, testing::Texture2DPayload(desc), "/nonexistent/");
    ADD_FAILURE() << "a missing resource file is a failure";
  } catch (const MissingResourceError& e) {
    EXPECT_EQ(std::string(e.what()), "Missing file: " + rig.dir.File(desc.resource_path));
  }
  EXPECT_FALSE(FolderExists(rig.Base() + "Unity_Assets_Files"));

  testing::WriteFileBytes(rig.dir.File(desc.resource_path), testing::TextureResourceFile(desc));
  RunCrn(rig, testing::Texture2DPayload(desc), "/nonexistent/");
  EXPECT_EQ(testing::ReadFileBytes(rig.Out("res_sharedassets1/rock.tex.crn")), desc.images);
}

// The program looks for the tool beside its own executable: a copy of this test binary in a
// folder with the tool runs the child test below, which calls the plain ExportCrn.
TEST(CrnExport, FindsTheToolBesideTheRunningProgram) {
  if (!testing::kLinuxToolsRun) GTEST_SKIP() << "the stand-in crunch tool is a shell script";
  testing::TempDir bin, out;
  testing::CopyFile(ExecutableFolder() + "kestrix_tests", bin.File("kestrix_tests"));
  ::chmod(bin.File("kestrix_tests").c_str(), 0755);
  InstallFakeTool(bin.Path(), "crunch_x64.exe");
  std::string command = "KESTRIX_CRN_CHILD_OUT='" + out.Path() + "' '" + bin.File("kestrix_tests") +
                        "' --gtest_filter=CrnToolChild.* > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Slurp(bin.File("ran.txt")), "crunch_x64.exe\n");
  EXPECT_TRUE(FileExists(out.File("Unity_Assets_Files/demo/Textures/rock.tex.crn.dds")));
}

TEST(CrnToolChild, ExportsIntoTheGivenFolder) {
  const char* out = std::getenv("KESTRIX_CRN_CHILD_OUT");
  if (!out) GTEST_SKIP() << "runs only inside CrnExport.FindsTheToolBesideTheRunningProgram";
  Session session;
  ExportRequest request;
  request.Switches.ExportDds = true;
  testing::RecordingFrontend frontend;
  Bytes payload = testing::Texture2DPayload(Crunched());
  MemorySource source(payload);
  Reader reader(source);
  ConverterCall call{reader,
                     static_cast<uint32_t>(payload.size()),
                     false,
                     std::string(out) + "/",
                     "Unity_Assets_Files/demo/Textures/",
                     "rock.tex"};
  ConverterContext ctx(session, request, frontend);
  ExportCrn(call, ctx);
}

}  // namespace
}  // namespace kestrix
