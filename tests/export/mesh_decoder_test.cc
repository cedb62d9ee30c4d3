// The mesh layouts of the three engine generations, the stride rule, and malformed meshes that
// must fail cleanly instead of reading outside the data.
#include "export/mesh_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/mesh_payloads.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::MeshSpec;

TMeshBase Decode(const Bytes& payload, int32_t version) {
  MemorySource source(payload);
  Reader in(source);
  TMeshBase mesh;
  mesh.Decode(in, version);
  return mesh;
}

MeshDecodeError::Kind FailureOf(const Bytes& payload, int32_t version) {
  try {
    Decode(payload, version);
  } catch (const MeshDecodeError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "decoded without failure";
  return MeshDecodeError::kCompressed;
}

// Every row a generation has, with content, so that a skipped or extra row shifts the fields.
MeshSpec Busy(int32_t version) {
  MeshSpec desc = testing::OneTriangleMesh(version);
  desc.blend_shape_names = {"smile", "a"};
  desc.bind_poses = 2;
  desc.skin = 3;
  if (version == 4) desc.channels = testing::Engine4Channels();
  return desc;
}

TEST(MeshDecoder, ReadsTheLayoutOfEachGeneration) {
  for (int32_t version : {2, 3, 4, 5, 2017}) {
    SCOPED_TRACE(version);
    MeshSpec desc = Busy(version);
    TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), version);
    ASSERT_EQ(mesh.SubMeshCount(), 1u);
    EXPECT_EQ(mesh.SubMesh(0).index_count, 3u);
    EXPECT_EQ(mesh.SubMesh(0).vertex_count, 3u);
    EXPECT_EQ(mesh.FaceCount(0), 1u);
    EXPECT_FALSE(mesh.IsStrip(0));
    ASSERT_EQ(mesh.VertexCount(), 3u);
    EXPECT_EQ(mesh.TotalIndices(), 3u);
    EXPECT_EQ(mesh.Index(2), 2);
    for (uint32_t i = 0; i < 3; ++i) {
      const testing::MeshVertexSpec& v = desc.vertices[i];
      EXPECT_EQ(mesh.Position(i).x, v.px);
      EXPECT_EQ(mesh.Position(i).y, v.py);
      EXPECT_EQ(mesh.Position(i).z, v.pz);
      EXPECT_EQ(mesh.Normal(i).y, v.ny);
      EXPECT_EQ(mesh.TexCoord(i).u, v.u);
      EXPECT_EQ(mesh.TexCoord(i).v, v.v);
    }
  }
}

TEST(MeshDecoder, GenerationsDoNotReadEachOthersLayout) {
  // Version 4 has the stream-compression byte, the stream array and two extra bit vectors that
  // version 5 lacks; reading one as the other must not pass silently with the same vertices.
  Bytes v3 = testing::BuildMeshPayload(Busy(3));
  Bytes v4 = testing::BuildMeshPayload(Busy(4));
  Bytes v5 = testing::BuildMeshPayload(Busy(5));
  for (auto [payload, version] : {std::pair{v4, 5}, std::pair{v5, 4}, std::pair{v3, 4},
                                  std::pair{v4, 3}, std::pair{v3, 5}, std::pair{v5, 3}}) {
    EXPECT_EQ(FailureOf(payload, version), MeshDecodeError::kUndecodable) << "version " << version;
  }
}

// Each channel takes its format's component size times its dimension, rounded up to 4 bytes;
// 16-bit floats are read as such. The numbering of formats changed in 2017.
TEST(MeshDecoder, ChannelFormatsHaveTheirOwnSizes) {
  using Channels = std::vector<testing::ChannelSpec>;
  struct Case {
    const char* what;
    int32_t version;
    Channels channels;
    uint32_t stride;
  };
  const Case cases[] = {
      {"colour bytes", 5, {}, 36},
      {"colour floats", 5, {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 0, 4}, {0, 40, 0, 2}}, 48},
      {"half UVs and tangent", 5, testing::HalfFloatMesh().channels, 40},
      {"half everything", 5, {{0, 0, 1, 3}, {0, 8, 1, 3}, {0, 16, 2, 4}, {0, 20, 1, 2}}, 24},
      {"engine 5 byte and int32",
       5,
       {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 3, 4}, {0, 28, 0, 2}, {0, 36, 4, 2}},
       44},
      {"2017 snorm8 and uint16",
       2017,
       {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 4, 4}, {0, 28, 0, 2}, {0, 36, 9, 3}},
       44},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MeshSpec desc = testing::OneTriangleMesh(c.version);
    desc.channels = c.channels;
    TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), c.version);
    EXPECT_EQ(mesh.StreamStrides(), std::vector<uint32_t>{c.stride});
    EXPECT_EQ(mesh.BytesPerVertex(), c.stride);
    EXPECT_EQ(mesh.StoredBytesPerVertex(), c.stride);
    for (uint32_t i = 0; i < 3; ++i) {
      const testing::MeshVertexSpec& v = desc.vertices[i];
      EXPECT_EQ(mesh.Position(i).x, v.px);
      EXPECT_EQ(mesh.Position(i).z, v.pz);
      EXPECT_EQ(mesh.Normal(i).y, v.ny);
      EXPECT_EQ(mesh.TexCoord(i).u, v.u);
      EXPECT_EQ(mesh.TexCoord(i).v, v.v);
    }
  }
  // Formats the engine does not have, and positions in a format that is not a float, are
  // refused rather than read at a guessed size.
  for (auto [version, channels] :
       {std::pair{5, Channels{{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 5, 4}, {0, 28, 0, 2}}},
        std::pair{2017, Channels{{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 13, 4}, {0, 28, 0, 2}}},
        std::pair{5, Channels{{0, 0, 2, 4}, {0, 4, 0, 3}, {0, 16, 2, 4}, {0, 20, 0, 2}}}}) {
    MeshSpec desc = testing::OneTriangleMesh(version);
    desc.channels = channels;
    EXPECT_EQ(FailureOf(testing::BuildMeshPayload(desc), version), MeshDecodeError::kUndecodable);
  }
}

TEST(MeshDecoder, StreamsFollowEachOtherInTheVertexData) {
  // UV in its own stream, which starts after vertex count times the first stream's stride.
  MeshSpec desc = testing::OneTriangleMesh(4);
  desc.channels = {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 2, 4}, {1, 0, 0, 2}, {2, 0, 0, 4}};
  TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), 4);
  EXPECT_EQ(mesh.StreamStrides(), (std::vector<uint32_t>{28, 8, 16}));
  EXPECT_EQ(mesh.BytesPerVertex(), 52u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(mesh.TexCoord(i).u, desc.vertices[i].u);
    EXPECT_EQ(mesh.Normal(i).y, 1.0f);
  }
}

// Engine 5 starts each stream after the first at a multiple of 16 bytes: the 120 bytes of three
// 40-byte vertices put the UVs at 128, one UV later than directly after them.
TEST(MeshDecoder, StreamsStartAtSixteenBytesWhenTheDataIsLaidOutSo) {
  for (int32_t version : {4, 5}) {
    SCOPED_TRACE(version);
    MeshSpec desc = testing::TwoStreamMesh();
    desc.version = version;
    ASSERT_EQ(testing::BuildVertexData(desc).size(), 160u);
    TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), version);
    EXPECT_EQ(mesh.StreamStrides(), (std::vector<uint32_t>{40, 8}));
    for (uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(mesh.TexCoord(i).u, desc.vertices[i].u);
      EXPECT_EQ(mesh.TexCoord(i).v, desc.vertices[i].v);
      EXPECT_EQ(mesh.Position(i).x, desc.vertices[i].px);
    }
  }
}

TEST(MeshDecoder, LegacyStrideIsTheSumOfTheStreamStrides) {
  MeshSpec desc = testing::OneTriangleMesh(3);
  for (auto strides : {std::vector<uint32_t>{32, 0, 0, 0}, std::vector<uint32_t>{20, 0, 12, 4},
                       std::vector<uint32_t>{200, 100, 0, 0}}) {
    std::copy(strides.begin(), strides.end(), desc.legacy_strides);
    TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), 3);
    uint32_t expected = (strides[0] + strides[1] + strides[2] + strides[3]) % 256;
    EXPECT_EQ(mesh.BytesPerVertex(), expected);
    EXPECT_EQ(mesh.Position(2).z, -3.0f) << expected;
    EXPECT_EQ(mesh.TexCoord(0).v, 0.75f) << expected;
  }
}

TEST(MeshDecoder, EmptyMeshDecodes) {
  MeshSpec desc;
  desc.version = 5;
  TMeshBase mesh = Decode(testing::BuildMeshPayload(desc), 5);
  EXPECT_EQ(mesh.SubMeshCount(), 0u);
  EXPECT_EQ(mesh.VertexCount(), 0u);
  EXPECT_EQ(mesh.StoredBytesPerVertex(), 0u);
}

TEST(MeshDecoder, CompressedMeshIsItsOwnFailure) {
  MeshSpec desc = testing::OneTriangleMesh(5);
  desc.mesh_compression = 2;
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(desc), 5), MeshDecodeError::kCompressed);
}

TEST(MeshDecoder, MalformedMeshesAreUndecodable) {
  MeshSpec few_channels = testing::OneTriangleMesh(5);
  few_channels.channels = {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 0, 2}};
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(few_channels), 5), MeshDecodeError::kUndecodable);

  MeshSpec long_sub_mesh = testing::OneTriangleMesh(5);
  long_sub_mesh.sub_meshes[0].vertex_count = 4;
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(long_sub_mesh), 5), MeshDecodeError::kUndecodable);
  long_sub_mesh.sub_meshes[0] = {0, 3, 0xFFFFFFFF, 2};  // first vertex + count wraps in 32 bits
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(long_sub_mesh), 5), MeshDecodeError::kUndecodable);

  // A vertex count far past the data: refused before anything is allocated for it.
  for (int64_t count : {int64_t{4}, int64_t{1} << 31, int64_t{0xFFFFFFFF}}) {
    MeshSpec many = testing::OneTriangleMesh(count == 4 ? 3 : 5);
    many.vertex_count_override = count;
    EXPECT_EQ(FailureOf(testing::BuildMeshPayload(many), many.version),
              MeshDecodeError::kUndecodable);
  }

  // Channels that point past the end of the vertex data: an offset beyond the stride, and a
  // stream without any stride of its own.
  MeshSpec far_channel = testing::OneTriangleMesh(5);
  far_channel.channels = {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 2, 4}, {0, 200, 0, 2}};
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(far_channel), 5), MeshDecodeError::kUndecodable);
  far_channel.channels = {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 2, 4}, {1, 0, 0, 0}};
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(far_channel), 5), MeshDecodeError::kUndecodable);
}

// A strip of quads: vertex and index counts large enough that shifted fields can pass as
// plausible counts.
MeshSpec QuadStrip(int32_t version, uint32_t quads) {
  MeshSpec desc = testing::OneTriangleMesh(version);
  desc.vertices.clear();
  desc.indices.clear();
  for (uint32_t q = 0; q <= quads; ++q) {
    float x = static_cast<float>(q);
    desc.vertices.push_back({x, 0, 0, 0, 1, 0, x, 0});
    desc.vertices.push_back({x, 1, 0, 0, 1, 0, x, 1});
  }
  for (uint32_t q = 0; q < quads; ++q) {
    uint16_t a = static_cast<uint16_t>(2 * q);
    for (uint16_t i :
         {a, uint16_t(a + 1), uint16_t(a + 2), uint16_t(a + 2), uint16_t(a + 1), uint16_t(a + 3)})
      desc.indices.push_back(i);
  }
  desc.sub_meshes[0].index_count = static_cast<uint32_t>(desc.indices.size());
  desc.sub_meshes[0].vertex_count = static_cast<uint32_t>(desc.vertices.size());
  desc.sub_meshes[0].triangle_count = 2 * quads;
  if (version == 4) desc.channels = testing::Engine4Channels();
  return desc;
}

// Real layouts that share a major version with one of the three but not its rows: engines 4.0
// to 4.2 (no blend-shape channels or bone rows before the compression byte, bind poses after
// the skin) and 2017.3 and later (an index format before the index buffer). Whatever their
// flags and row sizes, they are refused rather than read as shifted fields.
// Engines 4.0 to 4.2 (without blend shapes) decode through their own rows; blend shapes of
// those releases, and the index format of 2017.3 and later, are refused rather than misread.
TEST(MeshDecoder, LayoutsOfOtherEngineReleases) {
  using Variant = MeshSpec::Variant;
  for (auto [variant, version] :
       {std::pair{Variant::kEngine4Early, 4}, std::pair{Variant::kIndexFormat, 5},
        std::pair{Variant::kIndexFormat, 2017}}) {
    for (uint32_t quads : {1u, 2u, 40u}) {
      for (uint8_t flags : {0, 1}) {
        for (uint32_t rows : {0u, 1u, 3u}) {
          MeshSpec desc = QuadStrip(version, quads);
          desc.variant = variant;
          desc.keep_flags = flags;
          desc.bind_poses = rows;
          desc.skin = rows;
          desc.blend_shape_names.assign(rows, "shape");
          SCOPED_TRACE(::testing::Message()
                       << "variant " << variant << " version " << version << " quads " << quads
                       << " flags " << int{flags} << " rows " << rows);
          if (variant == Variant::kEngine4Early && rows == 0) {
            // Engines 4.0 to 4.2 without blend shapes: their rows are known and decode to the
            // same mesh as the 4.3 layout.
            TMeshBase early = Decode(testing::BuildMeshPayload(desc), version);
            desc.variant = Variant::kAsDescribed;
            TMeshBase later = Decode(testing::BuildMeshPayload(desc), version);
            ASSERT_EQ(early.VertexCount(), later.VertexCount());
            for (uint32_t i = 0; i < early.VertexCount(); ++i)
              EXPECT_EQ(early.Position(i).x, later.Position(i).x);
            EXPECT_EQ(early.TotalIndices(), later.TotalIndices());
            continue;
          }
          EXPECT_EQ(FailureOf(testing::BuildMeshPayload(desc), version),
                    MeshDecodeError::kUndecodable);
        }
      }
    }
  }
}

// Engines 3.0 to 3.4 keep one array per vertex attribute, told apart from 3.5 by the minor
// release: normals or texture coordinates may be missing (they read as 0), indices may be 32-bit,
// and an attribute array that covers other vertices than the positions is refused.
TEST(MeshDecoder, ReadsTheSeparateArraysOfEngines30To34) {
  struct Case {
    const char* what;
    bool without_normals, without_uvs, wide;
    int64_t positions;  // -1: one for each vertex
    bool decodes;
  };
  for (const Case& c : {Case{"all arrays", false, false, false, -1, true},
                        Case{"no normals", true, false, false, -1, true},
                        Case{"no texture coordinates", false, true, false, -1, true},
                        Case{"32-bit indices", false, false, true, -1, true},
                        Case{"fewer positions than normals", false, false, false, 2, false}}) {
    SCOPED_TRACE(c.what);
    MeshSpec desc = Busy(3);
    desc.variant = MeshSpec::kSeparateArrays;
    desc.without_normals = c.without_normals;
    desc.without_uvs = c.without_uvs;
    desc.vertex_count_override = c.positions;
    if (c.wide) desc.indices32 = {0, 1, 2};
    desc.sub_meshes[0].strip = 2;
    desc.sub_meshes[0].triangle_count = 1;
    const Bytes payload = testing::BuildMeshPayload(desc);
    MemorySource source(payload);
    Reader in(source);
    TMeshBase mesh;
    if (!c.decodes) {
      EXPECT_THROW(mesh.Decode(in, ParseEngineVersion("3.4.1f5")), MeshDecodeError);
      continue;
    }
    mesh.Decode(in, ParseEngineVersion("3.4.1f5"));
    ASSERT_EQ(mesh.VertexCount(), 3u);
    EXPECT_TRUE(mesh.IsStrip(0));
    EXPECT_EQ(mesh.FaceCount(0), 1u);
    EXPECT_EQ(mesh.IndexBytes(), c.wide ? 4u : 2u);
    EXPECT_EQ(mesh.Index(2), 2u);
    for (uint32_t i = 0; i < 3; ++i) {
      const testing::MeshVertexSpec& v = desc.vertices[i];
      EXPECT_EQ(mesh.Position(i).x, v.px);
      EXPECT_EQ(mesh.Position(i).z, v.pz);
      EXPECT_EQ(mesh.Normal(i).y, c.without_normals ? 0 : v.ny);
      EXPECT_EQ(mesh.TexCoord(i).u, c.without_uvs ? 0 : v.u);
      EXPECT_EQ(mesh.TexCoord(i).v, c.without_uvs ? 0 : v.v);
    }
    // The 3.5 layout does not account for these bytes.
    EXPECT_EQ(FailureOf(payload, 3), MeshDecodeError::kUndecodable);
  }
}

// Releases from 2017.3 on, each written row by row as it stands: base vertices, 32-bit indices,
// the 2018 channel table with its second stream, the skin moved out, bone bounds, mesh metrics,
// and vertex data in a resource file.
TEST(MeshDecoder, ReadsTheFieldLayoutsOfLaterReleases) {
  for (const char* engine : {"2017.3.0f1", "2017.4.37f1", "2018.1.2f1", "2018.2.6f1", "2019.1.2f1",
                             "2019.3.0f1", "2020.1.0f1", "2022.3.18f1"}) {
    const EngineVersion v = ParseEngineVersion(engine);
    for (bool wide : {false, true}) {
      for (bool in_resource : {false, true}) {
        if (in_resource && !v.AtLeast(2019, 3)) continue;
        SCOPED_TRACE(::testing::Message() << engine << (wide ? " 32-bit" : " 16-bit")
                                          << (in_resource ? " resource" : ""));
        MeshSpec desc = Busy(v.Major);
        desc.engine = engine;
        desc.align_streams = wide;
        desc.vertices.push_back({7, 8, 9, 0, 0, 1, 0.125f, 0.5f});
        desc.vertices.push_back({-1, -2, -3, 1, 0, 0, 1, 1});
        // The second sub-mesh's indices count from its base vertex 2.
        desc.indices = {0, 1, 2, 2, 1, 0};
        if (wide) desc.indices32 = {0, 1, 2, 2, 1, 0};
        testing::SubMeshSpec second;
        second.first_byte = 3 * (wide ? 4 : 2);
        second.index_count = 3;
        second.first_vertex = 2;
        second.vertex_count = 3;
        second.base_vertex = 2;
        desc.sub_meshes.push_back(second);
        if (in_resource) {
          desc.resource_path = "sharedassets0.assets.resS";
          desc.resource_offset = 4096;
        }
        const Bytes payload = testing::BuildMeshPayload(desc);
        MemorySource source(payload);
        Reader in(source);
        TMeshBase mesh;
        mesh.Decode(in, v);
        if (in_resource) {
          ASSERT_NE(mesh.StreamedData(), nullptr);
          EXPECT_EQ(mesh.StreamedData()->path, desc.resource_path);
          EXPECT_EQ(mesh.StreamedData()->offset, 4096u);
          mesh.SetStreamedVertexData(testing::BuildVertexData(desc));
        } else {
          EXPECT_EQ(mesh.StreamedData(), nullptr);
        }
        EXPECT_EQ(mesh.IndexBytes(), wide ? 4u : 2u);
        ASSERT_EQ(mesh.SubMeshCount(), 2u);
        EXPECT_EQ(mesh.TotalIndices(), 6u);
        EXPECT_EQ(mesh.FirstFace(1), 1u);
        EXPECT_EQ(mesh.Index(3, mesh.SubMesh(1).base_vertex), 4u);
        EXPECT_EQ(mesh.Index(5, mesh.SubMesh(1).base_vertex), 2u);
        ASSERT_EQ(mesh.VertexCount(), 5u);
        for (uint32_t i = 0; i < 5; ++i) {
          const testing::MeshVertexSpec& s = desc.vertices[i];
          EXPECT_EQ(mesh.Position(i).z, s.pz);
          EXPECT_EQ(mesh.Normal(i).x, s.nx);
          EXPECT_EQ(mesh.TexCoord(i).u, s.u);
          EXPECT_EQ(mesh.TexCoord(i).v, s.v);
        }
        // The layout of the release before or after does not account for the same bytes.
        MemorySource again(payload);
        Reader other(again);
        TMeshBase wrong;
        EXPECT_THROW(wrong.Decode(other, v.Major), MeshDecodeError);
      }
    }
  }
}

// 32-bit indices reach vertices past 65535; an index past the vertex table is refused.
TEST(MeshDecoder, ThirtyTwoBitIndicesReachPastSixteenBits) {
  MeshSpec desc = testing::OneTriangleMesh(2019);
  desc.engine = "2019.4.1f1";
  desc.vertices.resize(70000, {1, 2, 3, 0, 1, 0, 0.5f, 0.5f});
  desc.vertices[69999].px = 42;
  desc.indices32 = {69999, 0, 1};
  const Bytes payload = testing::BuildMeshPayload(desc);
  MemorySource source(payload);
  Reader in(source);
  TMeshBase mesh;
  mesh.Decode(in, ParseEngineVersion(desc.engine));
  EXPECT_EQ(mesh.Index(0), 69999u);
  EXPECT_EQ(mesh.Position(mesh.Index(0)).x, 42);
  EXPECT_THROW(mesh.Index(0, 1), MeshDecodeError);
}

// Later engines also append rows (mesh metrics, streamed data): bytes left after the last
// row mean the layout was not this one.
TEST(MeshDecoder, BytesAfterTheLastRowAreRefused) {
  for (int32_t version : {3, 4, 5}) {
    MeshSpec desc = Busy(version);
    ASSERT_NO_THROW(Decode(testing::BuildMeshPayload(desc), version));
    for (Bytes trailer : {Bytes{0}, Bytes(4, 0), Bytes(8, 0x3F)}) {
      desc.trailer = trailer;
      EXPECT_EQ(FailureOf(testing::BuildMeshPayload(desc), version), MeshDecodeError::kUndecodable)
          << "version " << version << ", " << trailer.size() << " bytes after";
    }
  }
}

// A vertex of no bytes: every vertex shares the first one's data, so a 440-byte payload made a
// 172 MB OBJ (and 2^32 - 1 vertices would make hundreds of gigabytes).
TEST(MeshDecoder, VertexCountMustFitTheVertexDataAtItsStride) {
  MeshSpec legacy = testing::OneTriangleMesh(3);
  legacy.legacy_strides[0] = 256;  // the stride is counted modulo 256
  legacy.vertex_count_override = 2000000;
  legacy.sub_meshes[0].vertex_count = 2000000;
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(legacy), 3), MeshDecodeError::kUndecodable);

  MeshSpec flat = testing::OneTriangleMesh(5);
  flat.channels = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
  flat.vertex_count_override = 1000;
  flat.sub_meshes[0].vertex_count = 1000;
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(flat), 5), MeshDecodeError::kUndecodable);

  // One vertex more than the data holds at the real stride.
  MeshSpec one_more = testing::OneTriangleMesh(5);
  one_more.vertex_count_override = 4;
  EXPECT_EQ(FailureOf(testing::BuildMeshPayload(one_more), 5), MeshDecodeError::kUndecodable);
}

TEST(MeshDecoder, GarbageCountsFailWithoutAllocating) {
  Bytes payload = testing::BuildMeshPayload(Busy(5));
  // Sub-mesh count, then every 32-bit word in turn, set to 2^31 and to 2^32 - 1.
  for (size_t at = 0; at + 4 <= payload.size(); at += 4) {
    for (uint32_t value : {0x80000000u, 0xFFFFFFFFu}) {
      Bytes bad = payload;
      for (int i = 0; i < 4; ++i) bad[at + i] = static_cast<uint8_t>(value >> (8 * i));
      try {
        Decode(bad, 5);
      } catch (const MeshDecodeError&) {
      }
    }
  }
  SUCCEED();
}

TEST(MeshDecoder, TruncatedPayloadsFailAtEveryLength) {
  for (int32_t version : {3, 4, 5}) {
    Bytes payload = testing::BuildMeshPayload(Busy(version));
    for (size_t cut = 0; cut < payload.size(); ++cut) {
      Bytes part(payload.begin(), payload.begin() + static_cast<long>(cut));
      EXPECT_EQ(FailureOf(part, version), MeshDecodeError::kUndecodable)
          << "version " << version << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace kestrix
