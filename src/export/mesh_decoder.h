// A Mesh payload as the engine serializes it, decoded for the OBJ writer. Three generations of
// the layout are told apart by the engine major version: up to 3, 4, and 5 or later. Engines
// 3.0 to 3.4 and those from 2017.3 on need the minor release as well.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/serialized_file.h"

namespace kestrix {

class Reader;
class ObjectCursor;

// Why a mesh could not be decoded: compressed meshes are not supported, anything else does not
// fit the layouts the decoder knows.
class MeshDecodeError : public Error {
 public:
  enum Kind { kCompressed, kUndecodable };
  MeshDecodeError(Kind kind, const std::string& detail)
      : Error(detail, kind == kCompressed ? ErrorKind::kNotSupported : ErrorKind::kDamagedData),
        kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct MeshSubMesh {
  uint32_t first_byte = 0;
  uint32_t index_count = 0;
  uint32_t strip_flag = 0;      // version 3 and earlier
  uint32_t triangle_count = 0;  // version 3 and earlier
  uint32_t topology = 0;        // version 4 and later
  uint32_t first_vertex = 0;
  uint32_t vertex_count = 0;
  uint32_t base_vertex = 0;  // 2017.3 and later: added to every index of the sub-mesh
};

// Where the vertex data of a mesh lies when it is kept in a resource file (2019.3 and later).
struct MeshStreamData {
  uint64_t offset = 0;
  uint32_t size = 0;
  std::string path;
};

struct MeshChannel {
  uint8_t stream = 0, offset = 0, format = 0, dimension = 0;
};

struct MeshVector3 {
  float x = 0, y = 0, z = 0;
};
struct MeshVector2 {
  float u = 0, v = 0;
};

// The fields of 2017.3 and later meshes that vary by release.
struct MeshLayoutFeatures {
  bool skin_after_indices = true;  // before 2018.2
  bool current_channels = true;    // before 2018
  bool bones_aabb = false;         // 2019 and later
  bool mesh_metrics = false;       // 2018.2 and later
  bool stream_data = false;        // 2019.3 and later
  bool stream_offset_64 = false;   // 2020.1 and later
  bool cooking_options = false;    // 2022.1 and later
  bool lod_info = false;           // 6000.2 and later: index ranges of each level of detail
  bool operator==(const MeshLayoutFeatures&) const = default;

  static MeshLayoutFeatures ForVersion(const EngineVersion& engine);
  // What a Mesh type tree says; false when the tree is not one of a 2017.3 or later mesh.
  static bool FromTree(const TypeTree& tree, MeshLayoutFeatures* out);
};

// Bytes of one component of a vertex channel of `format` in meshes of engine major `version`
// (0 for a format number the engine does not have).
uint32_t VertexComponentBytes(int32_t version, uint8_t format);

class TMeshBase {
 public:
  // Reads the payload from the stream's position, which must be the payload start (padding is
  // measured from there), to the stream's end, which must be the payload end. Throws
  // MeshDecodeError: kCompressed for a compressed mesh, kUndecodable for anything that does not
  // fit the layout or the data, including bytes the layout leaves unread.
  void Decode(Reader& stream, int32_t version);
  // The same for engines from 2017.3 on, whose layouts differ by minor release. A mesh whose
  // vertex data lies in a resource file is decoded up to that data: StreamedData() then says
  // where it is, and SetStreamedVertexData completes the decode.
  // With the file's type tree for the mesh, its fields decide the layout; without one the
  // version's layout is tried first and its neighbours after it. Engines 3.0 to 3.4 keep each
  // vertex attribute in an array of its own; other engines before 2017.3 go to the overload
  // above.
  void Decode(Reader& stream, const EngineVersion& engine, const TypeTree* tree = nullptr);
  const MeshStreamData* StreamedData() const { return streamed_ ? &stream_data_ : nullptr; }
  void SetStreamedVertexData(std::vector<uint8_t> data);

  int32_t version() const { return version_; }
  // Decoded with the layouts of 2017.3 and later (32-bit indices and base vertices possible).
  bool ReadByFields() const { return by_fields_; }
  size_t SubMeshCount() const { return sub_meshes_.size(); }
  const MeshSubMesh& SubMesh(size_t k) const { return sub_meshes_[k]; }
  uint32_t FirstFace(size_t k) const { return sub_meshes_[k].first_byte / (3 * index_bytes_); }
  uint32_t FirstIndex(size_t k) const { return sub_meshes_[k].first_byte / index_bytes_; }
  uint32_t FaceCount(size_t k) const;
  bool IsStrip(size_t k) const { return version_ <= 3 && sub_meshes_[k].strip_flag != 0; }

  // Index `position` of the index buffer plus `base_vertex`; throws kUndecodable past the buffer
  // or for an index past the vertex table.
  uint32_t Index(uint64_t position, uint32_t base_vertex = 0) const;
  uint32_t IndexBytes() const { return index_bytes_; }  // 2, or 4 for 32-bit indices
  uint64_t TotalIndices() const { return index_buffer_.size() / index_bytes_; }
  uint64_t TotalFaces() const { return index_buffer_.size() / (3 * index_bytes_); }

  uint32_t VertexCount() const { return vertex_count_; }
  MeshVector3 Position(uint32_t i) const { return Vector3At(position_, i); }
  MeshVector3 Normal(uint32_t i) const { return Vector3At(normal_, i); }
  MeshVector2 TexCoord(uint32_t i) const;

  const std::vector<uint32_t>& StreamStrides() const { return stream_strides_; }
  const std::vector<MeshChannel>& Channels() const { return channels_; }
  uint32_t BytesPerVertex() const;
  uint32_t StoredBytesPerVertex() const;

 private:
  // Where one vertex attribute lives: vertex i at start + i * stride of the vertex data, its
  // components 32-bit floats or, when `half` is set, 16-bit ones.
  struct Attribute {
    uint64_t start = 0;
    uint64_t stride = 0;
    bool half = false;
    bool absent = false;  // the mesh stores none: every component reads as 0
    uint64_t Bytes(int components) const { return uint64_t(components) * (half ? 2 : 4); }
  };

  // The rows of engine 4 releases before 4.3, which the layout of later 4.x releases does not
  // describe: kEarly41 (4.1, 4.2) has the blend shapes in their first form, kEarly40 none.
  enum class Early4 { kNone, kEarly41, kEarly40 };
  void DecodeLayout(Reader& stream, int32_t version, Early4 early);
  using Features = MeshLayoutFeatures;
  void DecodeFieldsLayout(Reader& stream, const Features& f);
  void DecodeArraysLayout(Reader& stream);
  void ReadLodLevels(ObjectCursor& in);
  void ComputeVertexTable();
  MeshVector3 Vector3At(const Attribute& a, uint32_t i) const;
  float ComponentAt(const Attribute& a, uint32_t i, int component) const;

  int32_t version_ = 0;
  uint32_t index_bytes_ = 2;
  bool by_fields_ = false;
  bool separate_arrays_ = false;   // engines 3.0 to 3.4: one array per vertex attribute
  uint32_t texcoord_channel_ = 3;  // 4 from 2018 on, where tangents come before the colours
  bool streamed_ = false;
  MeshStreamData stream_data_;
  std::vector<MeshSubMesh> sub_meshes_;
  std::vector<uint8_t> index_buffer_;
  uint32_t current_channels_ = 0;
  uint32_t vertex_count_ = 0;
  uint32_t legacy_strides_[4] = {0, 0, 0, 0};
  std::vector<MeshChannel> channels_;
  std::vector<uint8_t> vertex_data_;
  std::vector<uint32_t> stream_strides_;
  std::vector<uint64_t> stream_starts_;
  Attribute position_, normal_, texcoord_;
};

}  // namespace kestrix
