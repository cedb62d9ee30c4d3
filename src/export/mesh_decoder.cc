#include "export/mesh_decoder.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>

#include "core/field_layout.h"
#include "core/object_cursor.h"
#include "platform/byte_order.h"
#include "platform/io_error.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

// The channel table of engine 4 on: a count, then stream, offset, format and dimension bytes.
void ReadChannelTable(ObjectCursor& in, std::vector<MeshChannel>& channels) {
  channels.resize(in.Count(4));
  for (MeshChannel& c : channels) {
    c.stream = in.U8();
    c.offset = in.U8();
    c.format = in.U8();
    c.dimension = in.U8();
  }
  in.Align();
}

// The blend shapes and the bone tables between the sub-meshes and the vertex data (engine 5 on).
void SkipShapesAndBones(ObjectCursor& in) {
  in.SkipArray(40);  // blend-shape vertices
  in.SkipArray(12);  // blend shapes
  const uint32_t shape_channels = in.Count(16);
  for (uint32_t c = 0; c < shape_channels; ++c) {
    in.SkipString();
    in.Skip(12);  // name hash, frame index, frame count
  }
  in.SkipArray(4);   // full weights
  in.SkipArray(64);  // bind poses
  in.SkipArray(4);   // bone name hashes
  in.U32();          // root bone name hash
}

// A packed bit vector: item count, for float vectors a range and start, the packed bytes, the
// bit size, then the padding.
void SkipPackedBitVector(ObjectCursor& in, bool with_range) {
  in.U32();  // item count
  if (with_range) in.Skip(8);
  in.SkipArray(1);
  in.U8();  // bit size
  in.Align();
}

[[noreturn]] void Undecodable(const std::string& detail) {
  throw MeshDecodeError(MeshDecodeError::kUndecodable, detail);
}

float FloatAt(const uint8_t* p) {
  uint32_t bits = Get32(p, ByteOrder::Little);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

float HalfAt(const uint8_t* p) {
  const uint16_t bits = Get16(p, ByteOrder::Little);
  const int exponent = bits >> 10 & 0x1F;
  const int mantissa = bits & 0x3FF;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(mantissa), -24);  // subnormal
  } else if (exponent == 31) {
    magnitude =
        mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  } else {
    magnitude = std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
  }
  return bits & 0x8000 ? -magnitude : magnitude;
}

// Bytes of one component of a vertex channel, 0 for a format number the engine does not have.
// The numbering changed twice: up to engine 5 it is float32, float16, colour, byte, int32;
// 2017 and 2018 put 8- and 16-bit normalized and sized integer formats after colour; 2019 and
// later drop colour from that list.
uint32_t ComponentBytes(int32_t version, uint8_t format) {
  static const uint8_t kEngine5[] = {4, 2, 1, 1, 4};
  static const uint8_t kEngine2017[] = {4, 2, 1, 1, 1, 2, 2, 1, 1, 2, 2, 4, 4};
  static const uint8_t kEngine2019[] = {4, 2, 1, 1, 2, 2, 1, 1, 2, 2, 4, 4};
  auto pick = [format](const auto& sizes) -> uint32_t {
    return format < std::size(sizes) ? sizes[format] : 0;
  };
  if (version >= 2019) return pick(kEngine2019);
  if (version >= 2017) return pick(kEngine2017);
  return pick(kEngine5);
}

uint64_t AlignUp16(uint64_t n) { return (n + 15) & ~uint64_t{15}; }

}  // namespace

uint32_t VertexComponentBytes(int32_t version, uint8_t format) {
  return ComponentBytes(version, format);
}

void TMeshBase::Decode(Reader& stream, int32_t version) {
  const uint64_t start = stream.Tell();
  try {
    DecodeLayout(stream, version, Early4::kNone);
  } catch (const MeshDecodeError& first) {
    // Engine 4.0 to 4.2 share the major version with the 4.3 layout but not its rows. Since a
    // layout only counts when it accounts for every byte, trying them cannot misread a 4.3 mesh.
    if (version != 4 || first.kind() != MeshDecodeError::kUndecodable) throw;
    for (Early4 early : {Early4::kEarly41, Early4::kEarly40}) {
      try {
        stream.Seek(start);
        DecodeLayout(stream, version, early);
        return;
      } catch (const MeshDecodeError&) {
      }
    }
    throw first;
  }
}

void TMeshBase::DecodeLayout(Reader& stream, int32_t version, Early4 early) {
  *this = TMeshBase();
  version_ = version;
  try {
    // Meshes of big-endian files are refused before decoding; the rest are little-endian.
    ObjectCursor in(stream, ByteOrder::Little);
    const bool v3 = version <= 3, v4 = version == 4, v5 = version >= 5;

    const uint64_t record_size = v3 ? 48 : 44;
    sub_meshes_.resize(in.Count(record_size));
    for (MeshSubMesh& s : sub_meshes_) {
      s.first_byte = in.U32();
      s.index_count = in.U32();
      if (v3) {
        s.strip_flag = in.U32();
        s.triangle_count = in.U32();
      } else {
        s.topology = in.U32();
      }
      s.first_vertex = in.U32();
      s.vertex_count = in.U32();
      in.Skip(24);  // bounding box
    }
    if (v3) {
      in.U8();  // mesh compression
      in.Align();
      index_buffer_ = in.ByteArray();
      in.SkipArray(32);  // skin
      in.SkipArray(64);  // bind poses
    } else if (early != Early4::kNone) {
      if (early == Early4::kEarly41) {
        // Blend shapes as 4.1 and 4.2 store them; only empty ones are understood.
        if (in.Count(1) != 0) Undecodable("blend shapes of an early engine 4 mesh");
        in.SkipArray(40);  // blend-shape vertices
      }
      if (in.U8() != 0) throw MeshDecodeError(MeshDecodeError::kCompressed, "compressed mesh");
      in.U8();     // stream compression
      in.Skip(3);  // readable, keep vertices, keep indices
      in.Align();
      index_buffer_ = in.ByteArray();
      in.SkipArray(32);  // skin
      in.SkipArray(64);  // bind poses, after the skin in these releases
    } else {
      SkipShapesAndBones(in);
      if (in.U8() != 0) throw MeshDecodeError(MeshDecodeError::kCompressed, "compressed mesh");
      if (v4) in.U8();  // stream compression
      in.Skip(3);       // readable, keep vertices, keep indices
      in.Align();
      index_buffer_ = in.ByteArray();
      in.SkipArray(32);  // skin
    }

    current_channels_ = in.U32();
    vertex_count_ = in.U32();
    if (v3) {
      for (uint32_t& stride : legacy_strides_) {
        in.U32();  // channel mask
        in.U32();  // offset
        stride = in.U32();
        in.U32();
      }
    } else {
      ReadChannelTable(in, channels_);
      if (v4) in.SkipArray(12);  // streams
    }
    vertex_data_ = in.ByteArray();

    // The compressed-mesh block is read only to reach the fields after it.
    SkipPackedBitVector(in, true);            // vertices
    SkipPackedBitVector(in, true);            // UV
    if (!v5) SkipPackedBitVector(in, true);   // bind poses
    SkipPackedBitVector(in, true);            // normals
    SkipPackedBitVector(in, true);            // tangents
    SkipPackedBitVector(in, false);           // weights
    SkipPackedBitVector(in, false);           // normal signs
    SkipPackedBitVector(in, false);           // tangent signs
    if (v5) SkipPackedBitVector(in, true);    // float colours
    SkipPackedBitVector(in, false);           // bone indices
    SkipPackedBitVector(in, false);           // triangles
    if (!v5) SkipPackedBitVector(in, false);  // colours
    if (v5) in.U32();                         // UV info

    in.Skip(24);  // local bounding box
    in.U32();     // mesh usage flags
    if (v5) {
      in.SkipArray(1);  // baked convex collision mesh
      in.SkipArray(1);  // baked triangle collision mesh
    }
    // Engine releases that share a major version with these layouts still differ from them:
    // 4.0 to 4.2 lack the blend-shape channels and bone rows and keep the bind poses after the
    // skin, 2017.3 adds an index format, 2018.2 moves the skin and appends rows. Read with the
    // wrong rows, such a payload could line up with plausible counts, so a decode only counts when
    // the layout accounts for every byte; anything else is refused rather than misread.
    if (in.Remaining() != 0)
      Undecodable(std::to_string(in.Remaining()) + " bytes left after the last field");
  } catch (const MeshDecodeError&) {
    throw;
  } catch (const Error& e) {
    // A read past the end of the payload: the layout does not fit it.
    Undecodable(e.what());
  } catch (const std::bad_alloc&) {
    Undecodable("out of memory");
  }
  ComputeVertexTable();
}

MeshLayoutFeatures MeshLayoutFeatures::ForVersion(const EngineVersion& v) {
  MeshLayoutFeatures f;
  f.skin_after_indices = !v.AtLeast(2018, 2);
  f.current_channels = !v.AtLeast(2018, 1);
  f.bones_aabb = v.AtLeast(2019, 1);
  f.mesh_metrics = v.AtLeast(2018, 2);
  f.stream_data = v.AtLeast(2019, 3);
  f.stream_offset_64 = v.AtLeast(2020, 1);
  f.cooking_options = v.AtLeast(2022, 1);
  f.lod_info = v.AtLeast(6000, 2);
  return f;
}

bool MeshLayoutFeatures::FromTree(const TypeTree& tree, MeshLayoutFeatures* out) {
  const FieldLayout fields = FieldsOfTree(tree);
  auto find = [&](const std::string& name) -> const FieldStep* {
    for (const FieldStep& f : fields)
      if (f.name == name || f.name.rfind(name + "[", 0) == 0) return &f;
    return nullptr;
  };
  if (!find("m_SubMeshes") || !find("m_IndexFormat") || !find("m_IndexBuffer")) return false;
  MeshLayoutFeatures f;
  f.skin_after_indices = find("m_Skin") != nullptr;
  f.current_channels = find("m_VertexData.m_CurrentChannels") != nullptr;
  f.bones_aabb = find("m_BonesAABB") != nullptr;
  f.mesh_metrics = find("m_MeshMetrics") != nullptr;
  const FieldStep* offset = find("m_StreamData.offset");
  f.stream_data = offset != nullptr;
  f.stream_offset_64 = offset && offset->kind == FieldKind::kFixed && offset->size == 8;
  f.cooking_options = find("m_CookingOptions") != nullptr;
  f.lod_info = find("m_MeshLodInfo") != nullptr;
  *out = f;
  return true;
}

void TMeshBase::Decode(Reader& stream, const EngineVersion& v, const TypeTree* tree) {
  if (v.AtLeast(3, 0) && !v.AtLeast(3, 5)) return DecodeArraysLayout(stream);
  if (!v.AtLeast(2017, 3)) return Decode(stream, v.Major);
  Features primary = Features::ForVersion(v);
  const bool by_tree = tree && Features::FromTree(*tree, &primary);
  // The release a field came with is not always the one the tables say (patch releases moved
  // some): without a tree the neighbours of the version's layout are tried too, and as a layout
  // only counts when it accounts for every byte, none of them can misread a mesh of another.
  std::vector<Features> candidates = {primary};
  if (!by_tree)
    for (bool Features::*flag :
         {&Features::bones_aabb, &Features::stream_data, &Features::mesh_metrics,
          &Features::skin_after_indices, &Features::stream_offset_64, &Features::cooking_options,
          &Features::lod_info}) {
      Features f = primary;
      f.*flag = !(f.*flag);
      candidates.push_back(f);
    }
  const uint64_t start = stream.Tell();
  for (size_t c = 0; c < candidates.size(); ++c) {
    try {
      stream.Seek(start);
      *this = TMeshBase();
      version_ = v.Major;
      DecodeFieldsLayout(stream, candidates[c]);
      return;
    } catch (const MeshDecodeError& e) {
      if (c == 0 && e.kind() == MeshDecodeError::kCompressed) throw;
      if (c + 1 == candidates.size()) throw;
    }
  }
}

void TMeshBase::DecodeFieldsLayout(Reader& stream, const Features& f) {
  by_fields_ = true;
  index_bytes_ = 2;
  texcoord_channel_ = f.current_channels ? 3 : 4;
  try {
    ObjectCursor in(stream, ByteOrder::Little);
    sub_meshes_.resize(in.Count(48));
    for (MeshSubMesh& s : sub_meshes_) {
      s.first_byte = in.U32();
      s.index_count = in.U32();
      s.topology = in.U32();
      s.base_vertex = in.U32();
      s.first_vertex = in.U32();
      s.vertex_count = in.U32();
      in.Skip(24);  // bounding box
    }
    SkipShapesAndBones(in);
    if (f.bones_aabb) {
      in.SkipArray(24);  // bone bounds
      in.SkipArray(4);   // variable bone count weights
    }
    if (in.U8() != 0) throw MeshDecodeError(MeshDecodeError::kCompressed, "compressed mesh");
    in.Skip(3);  // readable, keep vertices, keep indices
    in.Align();
    const int32_t index_format = in.I32();
    if (index_format != 0 && index_format != 1)
      Undecodable("index format " + std::to_string(index_format));
    index_bytes_ = index_format == 1 ? 4 : 2;
    index_buffer_ = in.ByteArray();
    if (f.skin_after_indices) in.SkipArray(32);
    if (f.current_channels) current_channels_ = in.U32();
    vertex_count_ = in.U32();
    ReadChannelTable(in, channels_);
    vertex_data_ = in.ByteArray();
    for (int k = 0; k < 4; ++k) SkipPackedBitVector(in, true);   // vertices, UV, normals, tangents
    for (int k = 0; k < 3; ++k) SkipPackedBitVector(in, false);  // weights, normal/tangent signs
    SkipPackedBitVector(in, true);                               // float colours
    SkipPackedBitVector(in, false);                              // bone indices
    SkipPackedBitVector(in, false);                              // triangles
    in.U32();                                                    // UV info
    in.Skip(24);                                                 // local bounding box
    in.U32();                                                    // mesh usage flags
    if (f.cooking_options) in.U32();                             // cooking options
    in.SkipArray(1);                                             // baked convex collision mesh
    in.SkipArray(1);                                             // baked triangle collision mesh
    if (f.mesh_metrics) in.Skip(8);
    if (f.stream_data) {
      in.Align();
      stream_data_.offset = f.stream_offset_64 ? in.U64() : in.U32();
      stream_data_.size = in.U32();
      stream_data_.path = in.String();
      streamed_ = !stream_data_.path.empty();
    }
    if (f.lod_info) ReadLodLevels(in);
    if (in.Remaining() != 0)
      Undecodable(std::to_string(in.Remaining()) + " bytes left after the last field");
    if (streamed_ && !vertex_data_.empty())
      Undecodable("vertex data both in the object and in a resource file");
  } catch (const MeshDecodeError&) {
    throw;
  } catch (const Error& e) {
    Undecodable(e.what());
  } catch (const std::bad_alloc&) {
    Undecodable("out of memory");
  }
  if (index_buffer_.size() % index_bytes_ != 0)
    Undecodable("index buffer of " + std::to_string(index_buffer_.size()) + " bytes");
  if (!streamed_) ComputeVertexTable();
}

// The level-of-detail table of 6000.2 on: a selection curve, the level count, then per sub-mesh
// the index range of each level. With more than one level a sub-mesh's own range covers all of
// them; only level 0, the full detail, is exported.
void TMeshBase::ReadLodLevels(ObjectCursor& in) {
  in.Skip(8);  // selection curve: slope and bias
  const uint32_t levels = in.U32();
  const uint32_t subs = in.Count(4);
  if (subs != 0 && subs != sub_meshes_.size())
    Undecodable(std::to_string(subs) + " level tables for " + std::to_string(sub_meshes_.size()) +
                " sub-meshes");
  for (uint32_t k = 0; k < subs; ++k) {
    const uint32_t count = in.Count(8);
    for (uint32_t level = 0; level < count; ++level) {
      const uint32_t start = in.U32(), indices = in.U32();
      if (level != 0 || levels < 2) continue;
      MeshSubMesh& s = sub_meshes_[k];
      const uint64_t first_byte = uint64_t{start} * index_bytes_;
      if (first_byte > UINT32_MAX) Undecodable("level of detail past the index buffer");
      s.first_byte = static_cast<uint32_t>(first_byte);
      s.index_count = indices;
    }
  }
}

void TMeshBase::DecodeArraysLayout(Reader& stream) {
  *this = TMeshBase();
  version_ = 3;
  separate_arrays_ = true;
  std::vector<uint8_t> positions, normals, uvs;
  try {
    ObjectCursor in(stream, ByteOrder::Little);
    index_bytes_ = in.U32() != 0 ? 2 : 4;  // 16-bit indices or 32-bit ones
    sub_meshes_.resize(in.Count(48));
    for (MeshSubMesh& s : sub_meshes_) {
      s.first_byte = in.U32();
      s.index_count = in.U32();
      s.strip_flag = in.U32();
      s.triangle_count = in.U32();
      s.first_vertex = in.U32();
      s.vertex_count = in.U32();
      in.Skip(24);  // bounding box
    }
    if (in.U8() != 0) throw MeshDecodeError(MeshDecodeError::kCompressed, "compressed mesh");
    in.Align();
    index_buffer_ = in.ByteArray();
    vertex_count_ = in.Count(12);
    positions = in.Bytes(size_t{vertex_count_} * 12);
    in.SkipArray(32);  // skin
    in.SkipArray(64);  // bind poses
    // An attribute the mesh has covers every vertex; a mesh without normals or texture
    // coordinates stores an empty array.
    auto attribute_array = [&](uint64_t element, const char* what) {
      const uint32_t count = in.Count(element);
      if (count != 0 && count != vertex_count_)
        Undecodable(std::to_string(count) + " " + what + " for " + std::to_string(vertex_count_) +
                    " vertices");
      return in.Bytes(count * element);
    };
    uvs = attribute_array(8, "texture coordinates");
    in.SkipArray(8);   // second texture coordinate set
    in.SkipArray(16);  // tangents
    normals = attribute_array(12, "normals");
    // The compressed-mesh block of these releases: no colours and no UV info yet.
    for (int k = 0; k < 5; ++k) SkipPackedBitVector(in, true);   // vertices to tangents
    for (int k = 0; k < 5; ++k) SkipPackedBitVector(in, false);  // weights to triangles
    in.Skip(24);                                                 // local bounding box
    in.SkipArray(4);                                             // colours
    in.SkipArray(4);                                             // collision triangles
    in.U32();                                                    // collision vertex count
    in.U32();                                                    // mesh usage flags
    if (in.Remaining() != 0)
      Undecodable(std::to_string(in.Remaining()) + " bytes left after the last field");
  } catch (const MeshDecodeError&) {
    throw;
  } catch (const Error& e) {
    Undecodable(e.what());
  } catch (const std::bad_alloc&) {
    Undecodable("out of memory");
  }
  if (index_buffer_.size() % index_bytes_ != 0)
    Undecodable("index buffer of " + std::to_string(index_buffer_.size()) + " bytes");
  // The arrays follow each other in the vertex data, one stream each.
  const uint64_t n = vertex_count_;
  stream_strides_ = {12, normals.empty() ? 0u : 12u, uvs.empty() ? 0u : 8u};
  stream_starts_ = {0, 12 * n, 12 * n + normals.size()};
  position_ = {stream_starts_[0], 12};
  normal_ = {stream_starts_[1], 12, false, normals.empty()};
  texcoord_ = {stream_starts_[2], 8, false, uvs.empty()};
  vertex_data_ = std::move(positions);
  vertex_data_.insert(vertex_data_.end(), normals.begin(), normals.end());
  vertex_data_.insert(vertex_data_.end(), uvs.begin(), uvs.end());
  ComputeVertexTable();
}

void TMeshBase::SetStreamedVertexData(std::vector<uint8_t> data) {
  if (!streamed_) Undecodable("the mesh keeps its vertex data in the object");
  if (data.size() != stream_data_.size) Undecodable("resource data of the wrong size");
  vertex_data_ = std::move(data);
  streamed_ = false;
  ComputeVertexTable();
}

void TMeshBase::ComputeVertexTable() {
  if (separate_arrays_) {
    // The attributes were placed as their arrays were read.
  } else if (version_ <= 3) {
    uint32_t stride = 0;
    for (uint32_t s : legacy_strides_) stride += s;
    stride %= 256;
    stream_strides_ = {stride};
    stream_starts_ = {0};
    position_ = {0, stride};
    normal_ = {12, stride};
    texcoord_ = {24, stride};
  } else {
    size_t streams = 0;
    for (const MeshChannel& c : channels_)
      if (size_t{c.stream} + 1 > streams) streams = size_t{c.stream} + 1;
    stream_strides_.assign(streams, 0);
    for (const MeshChannel& c : channels_) {
      if (c.dimension == 0) continue;
      const uint32_t element = ComponentBytes(version_, c.format);
      if (element == 0) Undecodable("vertex channel format " + std::to_string(c.format));
      stream_strides_[c.stream] += (element * c.dimension + 3) / 4 * 4;
    }
    // Streams follow each other, or (as the engine lays them out from 5 on) each after the
    // first starts at the next multiple of 16 bytes. Which of the two a mesh has shows in the
    // vertex data's size: the aligned layout is taken only when that size is its end, with or
    // without the last stream padded too, and not the packed layout's end.
    stream_starts_.assign(streams, 0);
    std::vector<uint64_t> aligned(streams, 0);
    for (size_t s = 1; s < streams; ++s) {
      const uint64_t bytes = uint64_t{stream_strides_[s - 1]} * vertex_count_;
      stream_starts_[s] = stream_starts_[s - 1] + bytes;
      aligned[s] = AlignUp16(aligned[s - 1] + bytes);
    }
    if (streams > 1) {
      const uint64_t last = uint64_t{stream_strides_.back()} * vertex_count_;
      const uint64_t packed_end = stream_starts_.back() + last;
      const uint64_t aligned_end = aligned.back() + last;
      const uint64_t size = vertex_data_.size();
      if (size != packed_end && (size == aligned_end || size == AlignUp16(aligned_end)))
        stream_starts_ = aligned;
    }
    if (vertex_count_ > 0) {
      if (channels_.size() < 4) Undecodable("fewer than four vertex channels");
      auto attribute = [&](const MeshChannel& c, const char* what) {
        // Positions, normals and texture coordinates are floats of 32 or 16 bits; a channel
        // without components is not read for what it holds.
        if (c.dimension > 0 && c.format > 1)
          Undecodable(std::string(what) + " in vertex format " + std::to_string(c.format));
        return Attribute{stream_starts_[c.stream] + c.offset, stream_strides_[c.stream],
                         c.dimension > 0 && c.format == 1};
      };
      position_ = attribute(channels_[0], "positions");
      normal_ = attribute(channels_[1], "normals");
      if (channels_.size() <= texcoord_channel_) Undecodable("no texture coordinate channel");
      texcoord_ = attribute(channels_[texcoord_channel_], "texture coordinates");
    }
  }
  // The vertex count is a count of vertices of the summed stride each, which the vertex data
  // must hold. A vertex of no bytes would let a few bytes stand for billions of OBJ lines.
  uint64_t per_vertex = 0;
  for (uint32_t s : stream_strides_) per_vertex += s;
  if (vertex_count_ > 0 && (per_vertex == 0 || vertex_count_ > vertex_data_.size() / per_vertex))
    Undecodable("vertex data shorter than the vertex count");
  // Every vertex the table describes must lie inside the vertex data; the positions grow with
  // the vertex number, so the last vertex decides.
  for (uint32_t s = 0; s < sub_meshes_.size(); ++s) {
    const MeshSubMesh& m = sub_meshes_[s];
    if (uint64_t{m.first_vertex} + m.vertex_count > vertex_count_)
      Undecodable("sub-mesh vertex range past the vertex count");
  }
  if (vertex_count_ == 0) return;
  const uint64_t last = vertex_count_ - 1;
  const uint64_t size = vertex_data_.size();
  auto past_end = [&](const Attribute& a, int components) {
    return !a.absent && a.start + last * a.stride + a.Bytes(components) > size;
  };
  if (past_end(position_, 3) || past_end(normal_, 3) || past_end(texcoord_, 2))
    Undecodable("vertex table past the vertex data");
}

uint32_t TMeshBase::FaceCount(size_t k) const {
  return version_ >= 4 ? sub_meshes_[k].index_count / 3 : sub_meshes_[k].triangle_count;
}

uint32_t TMeshBase::Index(uint64_t position, uint32_t base_vertex) const {
  if (position >= TotalIndices()) Undecodable("index past the index buffer");
  const uint8_t* p = index_buffer_.data() + position * index_bytes_;
  const uint64_t index =
      uint64_t{index_bytes_ == 4 ? Get32(p, ByteOrder::Little) : Get16(p, ByteOrder::Little)} +
      base_vertex;
  if (index >= vertex_count_) Undecodable("index past the vertex table");
  return static_cast<uint32_t>(index);
}

float TMeshBase::ComponentAt(const Attribute& a, uint32_t i, int component) const {
  if (a.absent) return 0;
  const uint8_t* p = vertex_data_.data() + a.start + uint64_t{i} * a.stride + a.Bytes(component);
  return a.half ? HalfAt(p) : FloatAt(p);
}

MeshVector3 TMeshBase::Vector3At(const Attribute& a, uint32_t i) const {
  if (i >= vertex_count_) Undecodable("vertex past the vertex table");
  return {ComponentAt(a, i, 0), ComponentAt(a, i, 1), ComponentAt(a, i, 2)};
}

MeshVector2 TMeshBase::TexCoord(uint32_t i) const {
  if (i >= vertex_count_) Undecodable("vertex past the vertex table");
  return {ComponentAt(texcoord_, i, 0), ComponentAt(texcoord_, i, 1)};
}

uint32_t TMeshBase::BytesPerVertex() const {
  uint32_t sum = 0;
  for (uint32_t s : stream_strides_) sum += s;
  return sum % 256;
}

uint32_t TMeshBase::StoredBytesPerVertex() const {
  if (vertex_count_ == 0) return 0;
  return static_cast<uint32_t>(vertex_data_.size() / vertex_count_ % 256);
}

}  // namespace kestrix
