#include "support/mesh_payloads.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "core/serialized_file.h"

namespace kestrix::testing {

std::vector<ChannelSpec> Engine5Channels() {
  return {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 2, 4}, {0, 28, 0, 2},
          {0, 0, 0, 0}, {0, 0, 0, 0},  {0, 0, 0, 0},  {0, 0, 0, 0}};
}

std::vector<ChannelSpec> Engine2018Channels() {
  std::vector<ChannelSpec> c(14);
  c[0] = {0, 0, 0, 3};
  c[1] = {0, 12, 0, 3};
  c[2] = {1, 0, 0, 4};
  c[4] = {0, 24, 0, 2};
  return c;
}

std::vector<ChannelSpec> Engine4Channels() {
  return {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 24, 2, 4}, {0, 28, 0, 2}, {0, 36, 0, 2}, {1, 0, 0, 4}};
}

namespace {

// Attributes that a malformed channel table places outside the data are left out.
void PutFloat(Bytes& data, uint64_t at, float f) {
  if (at + 4 <= data.size()) std::memcpy(data.data() + at, &f, 4);
}

// 16-bit float of a value, exact for the small binary fractions tests use (others truncate).
void PutHalf(Bytes& data, uint64_t at, float f) {
  if (at + 2 > data.size()) return;
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  const uint32_t sign = bits >> 16 & 0x8000;
  const int exponent = static_cast<int>(bits >> 23 & 0xFF) - 127 + 15;
  uint32_t half = sign;
  if ((bits & 0x7FFFFFFF) != 0 && exponent > 0 && exponent < 31)
    half |= static_cast<uint32_t>(exponent) << 10 | (bits >> 13 & 0x3FF);
  data[at] = static_cast<uint8_t>(half);
  data[at + 1] = static_cast<uint8_t>(half >> 8);
}

// Channel formats up to engine 5: float32, float16, colour, byte, int32. 2017 and 2018: float32,
// float16, colour, unorm8, snorm8, unorm16, snorm16, uint8, sint8, uint16, sint16, uint32,
// sint32. Numbers outside the list are given 4 bytes.
uint64_t ComponentBytes(int32_t version, uint8_t format) {
  static const uint8_t kEngine5[] = {4, 2, 1, 1, 4};
  static const uint8_t kEngine2017[] = {4, 2, 1, 1, 1, 2, 2, 1, 1, 2, 2, 4, 4};
  if (version >= 2017) return format < 13 ? kEngine2017[format] : 4;
  return format < 5 ? kEngine5[format] : 4;
}

// The components of one attribute, in the channel's format.
void PutComponents(Bytes& data, uint64_t at, const ChannelSpec* c, std::initializer_list<float> v) {
  const bool half = c && c->format == 1;
  for (float f : v) {
    if (half) {
      PutHalf(data, at, f);
    } else {
      PutFloat(data, at, f);
    }
    at += half ? 2 : 4;
  }
}

bool FromEngine2018(const MeshSpec& desc) {
  return !desc.engine.empty() && ParseEngineVersion(desc.engine).AtLeast(2018, 1);
}

std::vector<ChannelSpec> ChannelsOf(const MeshSpec& desc) {
  if (!desc.channels.empty()) return desc.channels;
  return FromEngine2018(desc) ? Engine2018Channels() : Engine5Channels();
}

size_t UvChannel(const MeshSpec& desc) { return FromEngine2018(desc) ? 4 : 3; }

// A serialized array of `count` elements of `size` bytes, each byte `fill`.
void Array(ByteWriter& w, uint32_t count, uint32_t size, uint8_t fill = 0x5A) {
  w.U32(count);
  w.Raw(Bytes(size_t{count} * size, fill));
  w.Align(4);
}

void BitVector(ByteWriter& w, const MeshSpec& desc, bool with_range, uint32_t salt) {
  uint32_t bytes = desc.fill_compressed ? 1 + 2 * (salt % 3) : 0;
  w.U32(bytes * 8 / 5);  // item count
  if (with_range) w.F32(2.0f).F32(-1.0f);
  Array(w, bytes, 1, static_cast<uint8_t>(0xA0 + salt));
  w.U8(5);  // bit size
  w.Align(4);
}

}  // namespace

Bytes BuildVertexData(const MeshSpec& desc) {
  const uint64_t n = desc.vertices.size();
  if (desc.version <= 3) {
    uint32_t stride = 0;
    for (uint32_t s : desc.legacy_strides) stride += s;
    stride %= 256;
    // The last vertex's attributes reach 32 bytes in even when the stride is shorter.
    Bytes data(n == 0 ? 0 : std::max<uint64_t>(n * stride, (n - 1) * stride + 32), 0xCC);
    for (uint64_t i = 0; i < n; ++i) {
      const MeshVertexSpec& v = desc.vertices[i];
      uint64_t at = i * stride;
      PutFloat(data, at, v.px), PutFloat(data, at + 4, v.py), PutFloat(data, at + 8, v.pz);
      PutFloat(data, at + 12, v.nx), PutFloat(data, at + 16, v.ny), PutFloat(data, at + 20, v.nz);
      PutFloat(data, at + 24, v.u), PutFloat(data, at + 28, v.v);
    }
    return data;
  }
  std::vector<ChannelSpec> channels = ChannelsOf(desc);
  std::vector<uint64_t> strides;
  for (const ChannelSpec& c : channels) {
    if (c.stream >= strides.size()) strides.resize(c.stream + 1, 0);
    strides[c.stream] += (ComponentBytes(desc.version, c.format) * c.dimension + 3) / 4 * 4;
  }
  auto align = [&](uint64_t n) { return desc.align_streams ? (n + 15) / 16 * 16 : n; };
  std::vector<uint64_t> starts(strides.size(), 0);
  for (size_t s = 1; s < strides.size(); ++s) starts[s] = align(starts[s - 1] + strides[s - 1] * n);
  uint64_t total = strides.empty() ? 0 : align(starts.back() + strides.back() * n);
  Bytes data(total, 0xCC);
  for (uint64_t i = 0; i < n; ++i) {
    const MeshVertexSpec& v = desc.vertices[i];
    // A table too short for an attribute leaves it out (PutFloat skips writes past the end).
    auto at = [&](size_t channel) -> uint64_t {
      if (channel >= channels.size()) return data.size();
      const ChannelSpec& c = channels[channel];
      return starts[c.stream] + i * strides[c.stream] + c.offset;
    };
    auto channel = [&](size_t k) { return k < channels.size() ? &channels[k] : nullptr; };
    PutComponents(data, at(0), channel(0), {v.px, v.py, v.pz});
    PutComponents(data, at(1), channel(1), {v.nx, v.ny, v.nz});
    const size_t uv = UvChannel(desc);
    PutComponents(data, at(uv), channel(uv), {v.u, v.v});
  }
  return data;
}

namespace {

// The rows of 2017.3 and later, per release.
Bytes BuildFieldsMeshPayload(const MeshSpec& desc) {
  const EngineVersion v = ParseEngineVersion(desc.engine);
  ByteWriter w;
  w.U32(static_cast<uint32_t>(desc.sub_meshes.size()));
  for (const SubMeshSpec& s : desc.sub_meshes) {
    w.U32(s.first_byte).U32(s.index_count).U32(0).U32(s.base_vertex);
    w.U32(s.first_vertex).U32(s.vertex_count);
    for (int i = 0; i < 6; ++i) w.F32(0.25f * i);  // bounding box
  }
  const uint32_t shapes = static_cast<uint32_t>(desc.blend_shape_names.size());
  Array(w, shapes, 40);  // shape vertices
  Array(w, shapes, 12);  // shapes
  w.U32(shapes);
  for (uint32_t c = 0; c < shapes; ++c)
    w.Str(desc.blend_shape_names[c]).U32(0x1234 + c).U32(c).U32(1);
  Array(w, shapes, 4);  // full weights
  Array(w, desc.bind_poses, 64);
  Array(w, desc.bind_poses, 4);  // bone name hashes
  w.U32(0xBEEF);                 // root bone name hash
  if (v.AtLeast(2019, 1)) {
    Array(w, desc.bind_poses, 24);  // bone bounds
    Array(w, desc.skin, 4);         // variable bone count weights
  }
  w.U8(desc.mesh_compression);
  w.U8(desc.keep_flags).U8(desc.keep_flags).U8(desc.keep_flags).Align(4);
  const bool wide = !desc.indices32.empty();
  w.U32(wide ? 1 : 0);  // index format
  Bytes index_bytes;
  ByteWriter ib;
  if (wide) {
    for (uint32_t i : desc.indices32) ib.U32(i);
  } else {
    for (uint16_t i : desc.indices) ib.U16(i);
  }
  w.U32(static_cast<uint32_t>(ib.Size())).Raw(ib.Data()).Align(4);
  if (!v.AtLeast(2018, 2)) Array(w, desc.skin, 32);
  if (!v.AtLeast(2018, 1)) w.U32(0x0B);  // current channels
  w.U32(static_cast<uint32_t>(desc.vertices.size()));
  std::vector<ChannelSpec> channels = ChannelsOf(desc);
  w.U32(static_cast<uint32_t>(channels.size()));
  for (const ChannelSpec& c : channels) w.U8(c.stream).U8(c.offset).U8(c.format).U8(c.dimension);
  w.Align(4);
  Bytes data = BuildVertexData(desc);
  if (!desc.resource_path.empty()) {
    w.U32(0);
  } else {
    w.U32(static_cast<uint32_t>(data.size())).Raw(data).Align(4);
  }
  uint32_t salt = 0;
  for (bool range : {true, true, true, true, false, false, false, true, false, false})
    BitVector(w, desc, range, salt++);
  w.U32(0);                                       // UV info
  for (int i = 0; i < 6; ++i) w.F32(1.0f);        // local bounding box
  w.U32(0);                                       // mesh usage flags
  if (v.AtLeast(2022, 1)) w.U32(0x1E);            // cooking options
  Array(w, 3, 1);                                 // baked convex collision mesh
  Array(w, 5, 1);                                 // baked triangle collision mesh
  if (v.AtLeast(2018, 2)) w.F32(1.0f).F32(2.0f);  // mesh metrics
  if (v.AtLeast(2019, 3)) {
    const bool streamed = !desc.resource_path.empty();
    if (v.AtLeast(2020, 1)) {
      w.U64(streamed ? desc.resource_offset : 0);
    } else {
      w.U32(static_cast<uint32_t>(streamed ? desc.resource_offset : 0));
    }
    w.U32(streamed ? static_cast<uint32_t>(data.size()) : 0);
    w.Str(desc.resource_path);
  }
  w.Raw(desc.trailer);
  return w.Take();
}

Bytes BuildArraysMeshPayload(const MeshSpec& desc) {
  ByteWriter w;
  const bool wide = !desc.indices32.empty();
  w.U32(wide ? 0 : 1);  // 16-bit indices
  w.U32(static_cast<uint32_t>(desc.sub_meshes.size()));
  for (const SubMeshSpec& s : desc.sub_meshes) {
    w.U32(s.first_byte).U32(s.index_count).U32(s.strip).U32(s.triangle_count);
    w.U32(s.first_vertex).U32(s.vertex_count);
    for (int i = 0; i < 6; ++i) w.F32(0.25f * i);  // bounding box
  }
  w.U8(desc.mesh_compression).Align(4);
  ByteWriter ib;
  if (wide) {
    for (uint32_t i : desc.indices32) ib.U32(i);
  } else {
    for (uint16_t i : desc.indices) ib.U16(i);
  }
  w.U32(static_cast<uint32_t>(ib.Size())).Raw(ib.Data()).Align(4);
  const auto n = static_cast<uint32_t>(desc.vertices.size());
  const uint32_t positions =
      desc.vertex_count_override >= 0 ? static_cast<uint32_t>(desc.vertex_count_override) : n;
  w.U32(positions);
  for (uint32_t i = 0; i < positions; ++i)
    w.F32(desc.vertices[i].px).F32(desc.vertices[i].py).F32(desc.vertices[i].pz);
  Array(w, desc.skin, 32);
  Array(w, desc.bind_poses, 64);
  w.U32(desc.without_uvs ? 0 : n);
  if (!desc.without_uvs)
    for (const MeshVertexSpec& v : desc.vertices) w.F32(v.u).F32(v.v);
  Array(w, n, 8);   // second texture coordinate set
  Array(w, n, 16);  // tangents
  w.U32(desc.without_normals ? 0 : n);
  if (!desc.without_normals)
    for (const MeshVertexSpec& v : desc.vertices) w.F32(v.nx).F32(v.ny).F32(v.nz);
  uint32_t salt = 0;
  for (bool range : {true, true, true, true, true, false, false, false, false, false})
    BitVector(w, desc, range, salt++);
  for (int i = 0; i < 6; ++i) w.F32(1.0f);  // local bounding box
  Array(w, n, 4);                           // colours
  Array(w, 3, 4);                           // collision triangles
  w.U32(7);                                 // collision vertex count
  w.U32(0);                                 // mesh usage flags
  w.Raw(desc.trailer);
  return w.Data();
}

}  // namespace

Bytes BuildMeshPayload(const MeshSpec& desc) {
  if (!desc.engine.empty()) return BuildFieldsMeshPayload(desc);
  if (desc.variant == MeshSpec::kSeparateArrays) return BuildArraysMeshPayload(desc);
  const bool v3 = desc.version <= 3, v4 = desc.version == 4, v5 = desc.version >= 5;
  ByteWriter w;
  w.U32(static_cast<uint32_t>(desc.sub_meshes.size()));
  for (const SubMeshSpec& s : desc.sub_meshes) {
    w.U32(s.first_byte).U32(s.index_count);
    if (v3) {
      w.U32(s.strip).U32(s.triangle_count);
    } else {
      w.U32(0);  // topology: triangles
    }
    w.U32(s.first_vertex).U32(s.vertex_count);
    for (int i = 0; i < 6; ++i) w.F32(0.25f * i);  // bounding box
  }
  Bytes index_bytes;
  for (uint16_t i : desc.indices) {
    index_bytes.push_back(static_cast<uint8_t>(i));
    index_bytes.push_back(static_cast<uint8_t>(i >> 8));
  }
  if (v3) {
    w.U8(desc.mesh_compression).Align(4);
    w.U32(static_cast<uint32_t>(index_bytes.size())).Raw(index_bytes).Align(4);
    Array(w, desc.skin, 32);
    Array(w, desc.bind_poses, 64);
  } else {
    const bool early = desc.variant == MeshSpec::kEngine4Early;
    Array(w, static_cast<uint32_t>(desc.blend_shape_names.size()), 40);  // shape vertices
    Array(w, static_cast<uint32_t>(desc.blend_shape_names.size()), 12);  // shapes
    if (!early) {
      w.U32(static_cast<uint32_t>(desc.blend_shape_names.size()));
      for (size_t c = 0; c < desc.blend_shape_names.size(); ++c)
        w.Str(desc.blend_shape_names[c]).U32(0x1234 + c).U32(static_cast<uint32_t>(c)).U32(1);
      Array(w, static_cast<uint32_t>(desc.blend_shape_names.size()), 4);  // full weights
      Array(w, desc.bind_poses, 64);
      Array(w, desc.bind_poses, 4);  // bone name hashes
      w.U32(0xBEEF);                 // root bone name hash
    }
    w.U8(desc.mesh_compression);
    if (v4) w.U8(0);  // stream compression
    w.U8(desc.keep_flags).U8(desc.keep_flags).U8(desc.keep_flags).Align(4);
    if (desc.variant == MeshSpec::kIndexFormat) w.U32(0);  // 16-bit indices
    w.U32(static_cast<uint32_t>(index_bytes.size())).Raw(index_bytes).Align(4);
    Array(w, desc.skin, 32);
    if (early) Array(w, desc.bind_poses, 64);
  }
  const uint32_t vertex_count = desc.vertex_count_override >= 0
                                    ? static_cast<uint32_t>(desc.vertex_count_override)
                                    : static_cast<uint32_t>(desc.vertices.size());
  w.U32(0x0B);  // current channels
  w.U32(vertex_count);
  if (v3) {
    for (uint32_t s : desc.legacy_strides) w.U32(0x0B).U32(0).U32(s).U32(0);
  } else {
    std::vector<ChannelSpec> channels = ChannelsOf(desc);
    w.U32(static_cast<uint32_t>(channels.size()));
    for (const ChannelSpec& c : channels) w.U8(c.stream).U8(c.offset).U8(c.format).U8(c.dimension);
    w.Align(4);
    if (v4) {
      uint8_t streams = 0;
      for (const ChannelSpec& c : channels) streams = std::max<uint8_t>(streams, c.stream + 1);
      w.U32(streams);
      for (uint8_t s = 0; s < streams; ++s) w.U32(0xFF).U32(0).U32(0);
    }
  }
  Bytes data = BuildVertexData(desc);
  w.U32(static_cast<uint32_t>(data.size())).Raw(data).Align(4);

  uint32_t salt = 0;
  BitVector(w, desc, true, salt++);            // vertices
  BitVector(w, desc, true, salt++);            // UV
  if (!v5) BitVector(w, desc, true, salt++);   // bind poses
  BitVector(w, desc, true, salt++);            // normals
  BitVector(w, desc, true, salt++);            // tangents
  BitVector(w, desc, false, salt++);           // weights
  BitVector(w, desc, false, salt++);           // normal signs
  BitVector(w, desc, false, salt++);           // tangent signs
  if (v5) BitVector(w, desc, true, salt++);    // float colours
  BitVector(w, desc, false, salt++);           // bone indices
  BitVector(w, desc, false, salt++);           // triangles
  if (!v5) BitVector(w, desc, false, salt++);  // colours
  if (v5) w.U32(0);                            // UV info
  for (int i = 0; i < 6; ++i) w.F32(1.0f);     // local bounding box
  w.U32(0);                                    // mesh usage flags
  if (v5) {
    Array(w, 3, 1);  // baked convex collision mesh
    Array(w, 5, 1);  // baked triangle collision mesh
  }
  w.Raw(desc.trailer);
  return w.Take();
}

MeshSpec OneTriangleMesh(int32_t version) {
  MeshSpec desc;
  desc.version = version;
  desc.vertices = {{1.5f, 0, 0, 0, 1, 0, 0.25f, 0.75f},
                   {0, 2, 0, 0, 1, 0, 1, 0},
                   {0, 0, -3, 0, 1, 0, 0.5f, 0.5f}};
  desc.indices = {0, 1, 2};
  SubMeshSpec s;
  s.index_count = 3;
  s.vertex_count = 3;
  s.triangle_count = 1;
  desc.sub_meshes = {s};
  return desc;
}

MeshSpec HalfFloatMesh() {
  MeshSpec desc = OneTriangleMesh(5);
  desc.channels = {{0, 0, 0, 3},  {0, 12, 0, 3}, {0, 0, 0, 0}, {0, 24, 1, 2},
                   {0, 28, 1, 2}, {0, 0, 0, 0},  {0, 0, 0, 0}, {0, 32, 1, 4}};
  return desc;
}

MeshSpec TwoStreamMesh() {
  MeshSpec desc = OneTriangleMesh(5);
  desc.channels = {{0, 0, 0, 3}, {0, 12, 0, 3}, {0, 0, 0, 0}, {1, 0, 0, 2},
                   {0, 0, 0, 0}, {0, 0, 0, 0},  {0, 0, 0, 0}, {0, 24, 0, 4}};
  desc.align_streams = true;
  return desc;
}

}  // namespace kestrix::testing
