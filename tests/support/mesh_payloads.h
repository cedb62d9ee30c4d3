// Mesh payloads (what follows the mesh's name) in the layouts of engine major versions up to 3,
// 4, and 5 and later, with sub-meshes, vertex channels, streams and triangle strips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/asset_builder.h"

namespace kestrix::testing {

struct MeshVertexSpec {
  float px = 0, py = 0, pz = 0;
  float nx = 0, ny = 0, nz = 0;
  float u = 0, v = 0;
};

struct SubMeshSpec {
  uint32_t first_byte = 0;
  uint32_t index_count = 0;
  uint32_t first_vertex = 0;
  uint32_t vertex_count = 0;
  uint32_t strip = 0;           // version 3 and earlier
  uint32_t triangle_count = 0;  // version 3 and earlier
  uint32_t base_vertex = 0;     // engines 2017.3 and later
};

struct ChannelSpec {
  uint8_t stream = 0, offset = 0, format = 0, dimension = 0;
};

struct MeshSpec {
  int32_t version = 5;
  std::vector<SubMeshSpec> sub_meshes;
  std::vector<uint16_t> indices;
  std::vector<MeshVertexSpec> vertices;
  // Version 4 and later: channel 0 position, 1 normal, 3 texture coordinate, written as 32-bit
  // floats for format 0 and 16-bit ones for format 1; the others are filled with 0xCC bytes.
  // Empty means the engine 5 layout of position, normal, colour, UV.
  std::vector<ChannelSpec> channels;
  // Streams after the first start at the next multiple of 16 bytes, and the data ends at one,
  // as engine 5 lays them out; otherwise each stream follows the previous one directly.
  bool align_streams = false;
  // Version 3 and earlier: the strides of the four stream records; position, normal and UV sit
  // at 0, 12 and 24 of each vertex.
  uint32_t legacy_strides[4] = {32, 0, 0, 0};
  uint8_t mesh_compression = 0;
  // Rows the decoder must read past: blend-shape channel names, bind poses, bone influences,
  // and bytes in every compressed-mesh bit vector (odd counts, so that padding matters).
  std::vector<std::string> blend_shape_names;
  uint32_t bind_poses = 0;
  uint32_t skin = 0;
  bool fill_compressed = true;
  // Overrides the vertex count that is written (for malformed meshes); -1 keeps the real one.
  int64_t vertex_count_override = -1;
  // Real layouts that share a major version with the ones above but differ from them.
  enum Variant {
    kAsDescribed,
    // Engines 4.0 to 4.2: only the blend-shape vertex and shape arrays come before the
    // compression byte, and the bind poses follow the skin (as in version 3).
    kEngine4Early,
    // Engines 2017.3 and later: a 32-bit index format between the flags and the index buffer.
    kIndexFormat,
    // Engines 3.0 to 3.4 (version 3): a 16-bit index flag first, and one array per vertex
    // attribute instead of the vertex data; 32-bit indices when `indices32` is not empty, and
    // `vertex_count_override` positions (of no more than the vertices) when it is not -1.
    kSeparateArrays,
  };
  Variant variant = kAsDescribed;
  uint8_t keep_flags = 1;                             // readable, keep vertices, keep indices
  bool without_normals = false, without_uvs = false;  // kSeparateArrays: empty arrays
  Bytes trailer;                                      // appended after the last row

  // Engines 2017.3 and later ("2018.2.1f1", ...): the layout of that release, written row by
  // row as it stands. Their meshes take 32-bit indices when `indices32` is not empty, and from
  // 2018 on the texture coordinates are channel 4 (tangents and colours move before them).
  std::string engine;
  std::vector<uint32_t> indices32;
  // 2019.3 and later: the vertex data goes to a resource file of this name (BuildVertexData
  // gives its bytes) at `resource_offset` instead of into the payload.
  std::string resource_path;
  uint64_t resource_offset = 0;
};

// Channels of the usual layouts.
std::vector<ChannelSpec> Engine5Channels();  // pos 0/0, normal 0/12, colour 0/24 (bytes), UV 0/28
std::vector<ChannelSpec>
Engine4Channels();  // pos, normal, colour, UV and UV2 in stream 0, tangent in 1

// The channel table of 2018 and later: position, normal, tangent, colour, UV0 to UV7, blend
// weights and indices; position, normal and UV0 in stream 0, tangent in stream 1.
std::vector<ChannelSpec> Engine2018Channels();

Bytes BuildMeshPayload(const MeshSpec& desc);
// The vertex data alone, as BuildMeshPayload lays it out.
Bytes BuildVertexData(const MeshSpec& desc);
// A one-triangle mesh, sub-mesh 0..2, indices 0 1 2.
MeshSpec OneTriangleMesh(int32_t version);
// The one triangle as engine 5.6 static batching stores it: 32-bit position and normal, 16-bit
// UV0, UV1 and tangent, 40 bytes a vertex.
MeshSpec HalfFloatMesh();
// The one triangle in two streams of engine 5: position, normal and tangent (40 bytes a vertex),
// then the UVs from the next multiple of 16 bytes.
MeshSpec TwoStreamMesh();

}  // namespace kestrix::testing
