// OBJ text: the number format, groups with relative face indices, strips, the summary line,
// the failure messages of both languages, and files that a real OBJ reader loads.
#include "export/obj_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/error.h"
#include "core/localization.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/mesh_decoder.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/reader.h"
#include "support/mesh_payloads.h"
#include "support/test_env.h"
#include "support/tool_checks.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::MeshSpec;

TEST(FormatObjNumber, SixDecimalsWithItsReplacementRules) {
  struct Case {
    float value;
    const char* text;
  } cases[] = {
      {0.5f, "0.500000"},
      {-12.0f, "-12.000000"},
      {-0.0f, "-0.000000"},
      {-1e-9f, "-0.000000"},
      {1e-9f, "0.000000"},
      {123456.5f, "123456.500000"},
      {1234567.0f, "0.000000"},    // ".0" at position 8
      {12345.0f, "12345.000000"},  // ".0" at position 6 stays
      {-12345.0f, "0.000000"},     // the sign moves ".0" to position 7
      {1234567.5f, "1234567.500000"},
      {3e9f, "0.000000"},
      {std::numeric_limits<float>::quiet_NaN(), "0.000000"},
      {std::numeric_limits<float>::infinity(), "0.000000"},
      {-std::numeric_limits<float>::infinity(), "0.000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatObjNumber(c.value), c.text) << c.value;
}

class ObjExport : public ::testing::Test {
 protected:
  ObjExport() { InitLocalization(0x0409); }
  ~ObjExport() override { InitLocalization(0x0409); }

  std::string MeshFolder() const { return tmp_.Path() + "/Unity_Assets_Files/a/Mesh/"; }

  // Exports the payload as entry `name` and returns the file's text ("" when none was written).
  std::string Export(const Bytes& payload, int32_t version, const std::string& name = "Tri.mesh",
                     bool big_endian = false) {
    MemorySource source(payload);
    Reader in(source);
    ConverterCall call{in,
                       static_cast<uint32_t>(payload.size()),
                       big_endian,
                       tmp_.Path() + "/",
                       "Unity_Assets_Files/a/Mesh/",
                       name};
    ExportRequest request;
    ConverterContext ctx(session_, request, frontend_);
    ExportObj(call, ctx, version);
    Bytes bytes = testing::ReadFileBytes(MeshFolder() + name + ".obj");
    return std::string(bytes.begin(), bytes.end());
  }

  // The message of the Error that exporting throws.
  std::string FailureText(const Bytes& payload, int32_t version, bool big_endian = false) {
    try {
      Export(payload, version, "Bad.mesh", big_endian);
    } catch (const Error& e) {
      EXPECT_FALSE(FileExists(MeshFolder() + "Bad.mesh.obj"));
      return e.what();
    }
    ADD_FAILURE() << "no failure";
    return "";
  }

  testing::TempDir tmp_;
  Session session_;
  testing::RecordingFrontend frontend_;
};

TEST_F(ObjExport, OneTriangleFile) {
  std::string text = Export(testing::BuildMeshPayload(testing::OneTriangleMesh(5)), 5);
  EXPECT_EQ(text,
            "# Created by Kestrix Meshes = 1 Vertices: total=3/used=3 Indices: total=3/used=3 "
            "Faces: total=1/used=1 Bytes per Vertex: 36/36\r\n"
            "g Tri_1\r\n"
            "# SubMesh: 1 SubVertices = 3 SubIndices = 3 SubFaces = 1\r\n"
            "# Vertices: (1 to 3)\r\n"
            "v -1.500000 0.000000 0.000000\r\n"
            "vt 0.250000 0.750000\r\n"
            "vn -0.000000 1.000000 0.000000\r\n"
            "v -0.000000 2.000000 0.000000\r\n"
            "vt 1.000000 0.000000\r\n"
            "vn -0.000000 1.000000 0.000000\r\n"
            "v -0.000000 0.000000 -3.000000\r\n"
            "vt 0.500000 0.500000\r\n"
            "vn -0.000000 1.000000 0.000000\r\n"
            "# Faces: (1 to 1)\r\n"
            "f -1/-1/-1 -2/-2/-2 -3/-3/-3\r\n");
  EXPECT_EQ(frontend_.lines, std::vector<std::string>{"Tri.mesh -> OBJ"});
}

MeshSpec TwoSubMeshes(int32_t version) {
  MeshSpec desc = testing::OneTriangleMesh(version);
  desc.vertices.insert(desc.vertices.end(), desc.vertices.begin(), desc.vertices.end());
  desc.indices = {0, 1, 2, 3, 4, 5};
  testing::SubMeshSpec second = desc.sub_meshes[0];
  second.first_byte = 6;
  second.first_vertex = 3;
  desc.sub_meshes.push_back(second);
  return desc;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& head) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (line.rfind(head, 0) == 0) out.push_back(line);
    at = end + 2;
  }
  return out;
}

TEST_F(ObjExport, EachSubMeshIsAGroupWithItsOwnRelativeIndices) {
  for (int32_t version : {3, 4, 5}) {
    std::string text =
        Export(testing::BuildMeshPayload(TwoSubMeshes(version)), version, "Two.x.mesh");
    EXPECT_EQ(LinesStartingWith(text, "g "), (std::vector<std::string>{"g Two.x_1", "g Two.x_2"}));
    EXPECT_EQ(
        LinesStartingWith(text, "f "),
        (std::vector<std::string>{"f -1/-1/-1 -2/-2/-2 -3/-3/-3", "f -1/-1/-1 -2/-2/-2 -3/-3/-3"}));
    EXPECT_EQ(LinesStartingWith(text, "# Vertices"),
              (std::vector<std::string>{"# Vertices: (1 to 3)", "# Vertices: (4 to 6)"}));
    EXPECT_EQ(LinesStartingWith(text, "# Faces"),
              (std::vector<std::string>{"# Faces: (1 to 1)", "# Faces: (2 to 2)"}));
    EXPECT_NE(LinesStartingWith(text, "# Created")
                  .at(0)
                  .find(" Vertices: total=6/used=6 Indices: total=6/used=6 Faces: total=2/used=2 "),
              std::string::npos);
  }
}

// A mesh with vertices and no faces writes them as points: tools refuse an OBJ file without
// elements. Sub-meshes that name vertices keep them in their groups; without such, one group
// holds every vertex.
TEST_F(ObjExport, MeshesWithoutFacesWriteTheirVerticesAsPoints) {
  struct Case {
    const char* name;
    std::vector<testing::SubMeshSpec> sub_meshes;
    std::vector<std::string> groups, points;
  };
  const std::vector<std::string> three = {"p -3", "p -2", "p -1"};
  const std::vector<Case> cases = {
      {"NoSubMeshes.mesh", {}, {"g NoSubMeshes_1"}, three},
      {"NoIndices.mesh", {{0, 0, 0, 3}}, {"g NoIndices_1"}, three},
      {"EmptyRanges.mesh", {{0, 0, 0, 0}}, {"g EmptyRanges_1"}, three},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeshSpec desc = testing::OneTriangleMesh(5);
    desc.sub_meshes = c.sub_meshes;
    const std::string text = Export(testing::BuildMeshPayload(desc), 5, c.name);
    EXPECT_EQ(LinesStartingWith(text, "g "), c.groups);
    EXPECT_EQ(LinesStartingWith(text, "p "), c.points);
    EXPECT_EQ(LinesStartingWith(text, "v ").size(), 3u);
    EXPECT_TRUE(LinesStartingWith(text, "f ").empty());
    if (!testing::kLinuxToolsRun || !FileExists("/usr/bin/assimp")) continue;
    testing::ToolReport tool = testing::RunAssimpInfo(MeshFolder() + c.name + ".obj");
    ASSERT_TRUE(tool.ran);
    EXPECT_NE(tool.output.find("Importing file ...                   OK"), std::string::npos)
        << tool.output;
  }
}

// A version 3 strip over `indices` with as many vertices as the largest index needs.
MeshSpec Strip(std::vector<uint16_t> indices) {
  MeshSpec desc;
  desc.version = 3;
  uint16_t top = 0;
  for (uint16_t i : indices) top = std::max(top, i);
  for (uint16_t i = 0; i <= top; ++i) desc.vertices.push_back({float(i), 0, 0, 0, 0, 1, 0, 0});
  desc.indices = indices;
  testing::SubMeshSpec s;
  s.index_count = static_cast<uint32_t>(indices.size());
  s.vertex_count = top + 1u;
  s.strip = 1;
  s.triangle_count = static_cast<uint32_t>(indices.size()) - 2;
  desc.sub_meshes = {s};
  return desc;
}

std::string Face(int a, int b, int c, int block_end) {
  std::string line = "f";
  for (int i : {a, b, c}) {
    std::string r = std::to_string(i - block_end);
    line += " " + r + "/" + r + "/" + r;
  }
  return line;
}

TEST_F(ObjExport, StripsAlternateTheirWindingAndRestartOnRepeats) {
  std::string text = Export(testing::BuildMeshPayload(Strip({0, 1, 2, 3})), 3);
  EXPECT_EQ(LinesStartingWith(text, "f "),
            (std::vector<std::string>{Face(2, 1, 0, 4), Face(1, 2, 3, 4)}));

  text = Export(testing::BuildMeshPayload(Strip({0, 1, 2, 3, 3, 4, 4, 5, 6})), 3);
  EXPECT_EQ(LinesStartingWith(text, "f "),
            (std::vector<std::string>{Face(2, 1, 0, 7), Face(1, 2, 3, 7), Face(6, 5, 4, 7)}));

  // A restart after an odd number of faces starts the new run with the other winding.
  text = Export(testing::BuildMeshPayload(Strip({0, 1, 2, 3, 4, 4, 5, 5, 6, 7})), 3);
  EXPECT_EQ(LinesStartingWith(text, "f "),
            (std::vector<std::string>{Face(2, 1, 0, 8), Face(1, 2, 3, 8), Face(4, 3, 2, 8),
                                      Face(5, 6, 7, 8)}));

  // The same indices in a version 4 file are a triangle list: the strip flag does not exist.
  MeshSpec list = Strip({0, 1, 2, 3, 4, 5});
  list.version = 4;
  text = Export(testing::BuildMeshPayload(list), 4);
  EXPECT_EQ(LinesStartingWith(text, "f "),
            (std::vector<std::string>{Face(2, 1, 0, 6), Face(5, 4, 3, 6)}));
}

TEST_F(ObjExport, StripEndingInARestartAtTheBufferEndStaysInside) {
  std::string text = Export(testing::BuildMeshPayload(Strip({0, 1, 2, 3, 3})), 3);
  EXPECT_EQ(LinesStartingWith(text, "f "),
            (std::vector<std::string>{Face(2, 1, 0, 4), Face(1, 2, 3, 4)}));
}

TEST_F(ObjExport, FailuresCarryTheEntryNameAndTheInterfaceLanguage) {
  Bytes good = testing::BuildMeshPayload(testing::OneTriangleMesh(5));
  MeshSpec compressed = testing::OneTriangleMesh(5);
  compressed.mesh_compression = 1;
  MeshSpec bad_index = testing::OneTriangleMesh(5);
  bad_index.indices = {0, 1, 3};
  Bytes truncated(good.begin(), good.begin() + 40);

  EXPECT_EQ(FailureText(good, 5, true), "Bad.mesh Not supported convertanion meshes big endian.");
  EXPECT_EQ(frontend_.lines,
            std::vector<std::string>{"Bad.mesh Not supported convertanion meshes big endian."});
  EXPECT_EQ(FailureText(testing::BuildMeshPayload(compressed), 5),
            "Bad.mesh Compression meshes are not supported.");
  EXPECT_EQ(FailureText(truncated, 5),
            "Bad.mesh Error memory: This format meshes not supported!!!");
  EXPECT_EQ(FailureText(testing::BuildMeshPayload(bad_index), 5),
            "Bad.mesh Error memory: This format meshes not supported!!!");

  InitLocalization(0x0419);
  EXPECT_EQ(FailureText(good, 5, true), "Bad.mesh Not supported convertanion meshes big endian.");
  EXPECT_EQ(FailureText(testing::BuildMeshPayload(compressed), 5),
            "Bad.mesh Сжатые mesh не поддерживаются.");
  EXPECT_EQ(FailureText(truncated, 5),
            "Bad.mesh Ошибка памяти: Этот формат mesh не поддерживаются!!!");

  // A file that cannot be created is the conversion failure.
  testing::WriteFileBytes(tmp_.Path() + "/Unity_Assets_Files", Bytes{1});
  EXPECT_EQ(FailureText(good, 5), "Bad.mesh Ошибка конвертации mesh!!!");
  InitLocalization(0x0409);
  EXPECT_EQ(FailureText(good, 5), "Bad.mesh Error: Convertanion mesh!!!");
}

// Sub-meshes that each cover the whole mesh repeat its vertex block and faces; a payload of
// many such records over a large vertex table would write gigabytes.
TEST_F(ObjExport, SubMeshesRepeatingTheWholeMeshAreBounded) {
  MeshSpec desc = testing::OneTriangleMesh(5);
  desc.sub_meshes.assign(64, desc.sub_meshes[0]);
  EXPECT_NE(Export(testing::BuildMeshPayload(desc), 5).find("g Tri_64"), std::string::npos);
  desc.sub_meshes.push_back(desc.sub_meshes[0]);
  EXPECT_EQ(FailureText(testing::BuildMeshPayload(desc), 5),
            "Bad.mesh Error memory: This format meshes not supported!!!");
  // Faces alone: sub-meshes without vertices of their own, all over the same indices.
  desc.sub_meshes.assign(65, {0, 3, 0, 0});
  EXPECT_EQ(FailureText(testing::BuildMeshPayload(desc), 5),
            "Bad.mesh Error memory: This format meshes not supported!!!");
}

long SummaryNumber(const std::string& summary, const std::string& label) {
  size_t at = summary.find(label);
  return at == std::string::npos ? -1
                                 : std::strtol(summary.c_str() + at + label.size(), nullptr, 10);
}

// Checks that assimp reads the file with the sub-meshes and faces its summary line states
// (without post-processing assimp keeps three vertices per face). A strip's summary counts the
// stored triangles, restarts included, so strips are checked against the face lines written.
void ExpectAssimpAgrees(const std::string& path, const std::string& text, bool strip = false) {
  if (!testing::kLinuxToolsRun) return;
  std::string summary = text.substr(0, text.find("\r\n"));
  testing::ToolReport tool = testing::RunAssimpInfo(path);
  ASSERT_TRUE(tool.ran);
  const std::string& report = tool.output;
  long faces = strip ? static_cast<long>(LinesStartingWith(text, "f ").size())
                     : SummaryNumber(summary.substr(summary.find("Faces:")), "/used=");
  EXPECT_NE(report.find("Importing file ...                   OK"), std::string::npos) << report;
  EXPECT_EQ(testing::ReportNumber(report, "Meshes:"), SummaryNumber(summary, "Meshes = "))
      << report;
  EXPECT_EQ(testing::ReportNumber(report, "Faces:"), faces) << report;
  EXPECT_EQ(testing::ReportNumber(report, "Vertices:"), 3 * faces) << report;
}

TEST_F(ObjExport, AssimpLoadsTheFilesWithTheStatedCounts) {
  if (!FileExists("/usr/bin/assimp")) GTEST_SKIP() << "assimp (assimp-utils) is not installed";
  // A grid of 5 x 4 quads in two sub-meshes, and a version 3 strip.
  MeshSpec grid;
  grid.version = 5;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      grid.vertices.push_back({float(x), float(y), 0.5f, 0, 0, 1, x / 5.0f, y / 4.0f});
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      uint16_t a = static_cast<uint16_t>(y * 6 + x), b = a + 1, c = a + 6, d = a + 7;
      grid.indices.insert(grid.indices.end(), {a, b, d, a, d, c});
    }
  }
  grid.sub_meshes = {{0, 60, 0, 18}, {120, 60, 12, 18}};
  std::string text = Export(testing::BuildMeshPayload(grid), 5, "Grid.mesh");
  ExpectAssimpAgrees(MeshFolder() + "Grid.mesh.obj", text);

  text = Export(testing::BuildMeshPayload(Strip({0, 1, 2, 3, 4, 4, 5, 5, 6, 7})), 3, "Strip.mesh");
  ExpectAssimpAgrees(MeshFolder() + "Strip.mesh.obj", text, true);
}

// Engine 5 vertex layouts that put the attributes elsewhere than four floats after four floats:
// 16-bit UVs and tangents (40 bytes a vertex rather than 56), and UVs in a second stream that
// starts at the next multiple of 16 bytes.
TEST_F(ObjExport, HalfFloatChannelsAndAlignedStreamsGiveTheBuiltVertices) {
  for (auto [name, desc] : {std::pair{"Half.mesh", testing::HalfFloatMesh()},
                            std::pair{"Streams.mesh", testing::TwoStreamMesh()}}) {
    SCOPED_TRACE(name);
    std::string text = Export(testing::BuildMeshPayload(desc), 5, name);
    std::vector<std::string> v, vt;
    for (const testing::MeshVertexSpec& x : desc.vertices) {
      v.push_back("v " + FormatObjNumber(-x.px) + " " + FormatObjNumber(x.py) + " " +
                  FormatObjNumber(x.pz));
      vt.push_back("vt " + FormatObjNumber(x.u) + " " + FormatObjNumber(x.v));
    }
    EXPECT_EQ(LinesStartingWith(text, "v "), v);
    EXPECT_EQ(LinesStartingWith(text, "vt "), vt);
    EXPECT_NE(text.find(" Bytes per Vertex: " +
                        std::string(desc.align_streams ? "48/53\r\n" : "40/40\r\n")),
              std::string::npos)
        << text.substr(0, text.find("\r\n"));
    if (FileExists("/usr/bin/assimp")) ExpectAssimpAgrees(MeshFolder() + name + ".obj", text);
  }
}

}  // namespace
}  // namespace kestrix
