// Meshes become Wavefront OBJ text: one group per sub-mesh, each with its own vertex block and
// faces that point back into it with relative indices. The model is mirrored on X, so faces
// are written in reversed order to keep them facing outwards.
#include "export/obj_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/error.h"
#include "core/localization.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/mesh_decoder.h"
#include "export/texture_source.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/safe_files.h"

namespace kestrix {

namespace {

const char kLineEnd[] = "\r\n";

class ObjText {
 public:
  // With `points`, the mesh has vertices and no faces: its vertices are written as points,
  // since tools refuse an OBJ file without elements.
  ObjText(const TMeshBase& mesh, std::string& out, bool points)
      : mesh_(mesh), out_(out), points_(points) {}

  void SubMesh(size_t k, const std::string& group);
  // A mesh of points whose sub-meshes name no vertices: one group of all of them.
  void AllPoints(const std::string& group);

 private:
  void Vertices(uint32_t first, uint32_t count);
  void Points(uint32_t count);
  void Face(uint32_t a, uint32_t b, uint32_t c);
  void Strip(size_t k);

  const TMeshBase& mesh_;
  std::string& out_;
  int64_t block_end_ = 0;  // L: indices are written relative to the end of the vertex block
  uint32_t base_vertex_ = 0;
  bool points_ = false;
};

void ObjText::Vertices(uint32_t first, uint32_t count) {
  // Numbers go straight into the text: meshes have many of them.
  auto number = [this](char lead, float value) {
    out_ += lead;
    AppendObjNumber(out_, value);
  };
  for (uint32_t i = first; i < first + count; ++i) {
    MeshVector3 p = mesh_.Position(i);
    MeshVector2 t = mesh_.TexCoord(i);
    MeshVector3 n = mesh_.Normal(i);
    out_ += 'v';
    number(' ', -p.x);
    number(' ', p.y);
    number(' ', p.z);
    out_ += kLineEnd;
    out_ += "vt";
    number(' ', t.u);
    number(' ', t.v);
    out_ += kLineEnd;
    out_ += "vn";
    number(' ', -n.x);
    number(' ', n.y);
    number(' ', n.z);
    out_ += kLineEnd;
  }
}

// The last `count` vertices written, one point each.
void ObjText::Points(uint32_t count) {
  out_ += "# Points: " + std::to_string(count) + kLineEnd;
  for (int64_t i = -static_cast<int64_t>(count); i < 0; ++i)
    out_ += "p " + std::to_string(i) + kLineEnd;
}

void ObjText::AllPoints(const std::string& group) {
  const uint32_t count = mesh_.VertexCount();
  out_ += "g " + group + "_1" + kLineEnd;
  out_ += "# Vertices: (1 to " + std::to_string(count) + ")" + kLineEnd;
  Vertices(0, count);
  Points(count);
}

void ObjText::SubMesh(size_t k, const std::string& group) {
  const MeshSubMesh& s = mesh_.SubMesh(k);
  const uint32_t first_face = mesh_.FirstFace(k);
  const uint32_t faces = mesh_.FaceCount(k);
  const std::string number = std::to_string(k + 1);
  out_ += "g " + group + "_" + number + kLineEnd;
  out_ += "# SubMesh: " + number + " SubVertices = " + std::to_string(s.vertex_count) +
          " SubIndices = " + std::to_string(s.index_count) +
          " SubFaces = " + std::to_string(faces) + kLineEnd;
  out_ += "# Vertices: (" + std::to_string(uint64_t{s.first_vertex} + 1) + " to " +
          std::to_string(uint64_t{s.first_vertex} + s.vertex_count) + ")" + kLineEnd;
  Vertices(s.first_vertex, s.vertex_count);
  if (points_) {
    Points(s.vertex_count);
    return;
  }
  out_ += "# Faces: (" + std::to_string(uint64_t{first_face} + 1) + " to " +
          std::to_string(uint64_t{first_face} + faces) + ")" + kLineEnd;
  // The fixed layouts hold 16-bit indices, and their block end wraps as one.
  block_end_ = static_cast<int64_t>(uint64_t{s.first_vertex} + s.vertex_count);
  if (!mesh_.ReadByFields() && mesh_.IndexBytes() == 2) block_end_ %= 65536;
  base_vertex_ = s.base_vertex;
  if (mesh_.IsStrip(k)) {
    Strip(k);
    return;
  }
  for (uint64_t f = first_face; f < uint64_t{first_face} + faces; ++f) {
    uint32_t i0 = mesh_.Index(3 * f, base_vertex_), i1 = mesh_.Index(3 * f + 1, base_vertex_),
             i2 = mesh_.Index(3 * f + 2, base_vertex_);
    Face(i2, i1, i0);
  }
}

void ObjText::Face(uint32_t a, uint32_t b, uint32_t c) {
  out_ += 'f';
  for (uint32_t index : {a, b, c}) {
    char r[24];
    const size_t n = std::to_chars(r, r + sizeof r, int64_t{index} - block_end_).ptr - r;
    out_ += ' ';
    out_.append(r, n).append(1, '/').append(r, n).append(1, '/').append(r, n);
  }
  out_ += kLineEnd;
}

// A triangle strip turns into a list whose winding alternates; a repeated index marks a
// restart, and runs of repeats shift the parity.
void ObjText::Strip(size_t k) {
  const uint64_t start = mesh_.FirstIndex(k);
  const uint64_t end = start + mesh_.SubMesh(k).index_count;
  const uint64_t total = mesh_.TotalIndices();
  auto q = [&](uint64_t p) { return mesh_.Index(p, base_vertex_); };
  uint64_t p = start;
  uint64_t n = 0;
  while (p < end) {
    if (n % 2 == 0) {
      Face(q(p + 2), q(p + 1), q(p));
    } else {
      Face(q(p), q(p + 1), q(p + 2));
    }
    p += 3;
    bool restart = false;
    while (p < end) {
      if (q(p) == q(p - 1)) {
        ++p;
        // Comparisons stop at the end of the index buffer rather than read past it.
        while (p + 1 < total && q(p) == q(p + 1)) {
          ++n;
          ++p;
        }
        restart = true;
        break;
      }
      if (n % 2 == 0) {
        Face(q(p - 2), q(p - 1), q(p));
      } else {
        Face(q(p), q(p - 1), q(p - 2));
      }
      ++n;
      ++p;
    }
    if (!restart) break;
  }
}

std::string Summary(const TMeshBase& mesh) {
  uint64_t used_vertices = 0, used_indices = 0, used_faces = 0;
  for (size_t k = 0; k < mesh.SubMeshCount(); ++k) {
    used_vertices += mesh.SubMesh(k).vertex_count;
    used_indices += mesh.SubMesh(k).index_count;
    used_faces += mesh.FaceCount(k);
  }
  return "# Created by Kestrix Meshes = " + std::to_string(mesh.SubMeshCount()) +
         " Vertices: total=" + std::to_string(mesh.VertexCount()) +
         "/used=" + std::to_string(used_vertices) +
         " Indices: total=" + std::to_string(mesh.TotalIndices()) +
         "/used=" + std::to_string(used_indices) +
         " Faces: total=" + std::to_string(mesh.TotalFaces()) +
         "/used=" + std::to_string(used_faces) +
         " Bytes per Vertex: " + std::to_string(mesh.BytesPerVertex()) + "/" +
         std::to_string(mesh.StoredBytesPerVertex()) + kLineEnd;
}

}  // namespace

void AppendObjNumber(std::string& out, float value) {
  static constexpr std::string_view kZero = "0.000000";
  if (!std::isfinite(value)) {
    out += kZero;
    return;
  }
  // What "%.6f" writes, without the locale and a good deal faster (meshes have many numbers).
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer,
                                          static_cast<double>(value), std::chars_format::fixed, 6);
  const std::string_view text(buffer, error == std::errc() ? end - buffer : 0);
  // Long integral parts are unreliable in a float; ".0" past the sixth character marks them.
  const size_t dot_zero = text.find(".0");
  if (text.empty() || (dot_zero != std::string_view::npos && dot_zero + 1 > 6)) {
    out += kZero;
    return;
  }
  out += text;
}

std::string FormatObjNumber(float value) {
  std::string text;
  AppendObjNumber(text, value);
  return text;
}

namespace {

// Each sub-mesh writes its own vertex block and faces, so sub-meshes that all cover the whole
// mesh multiply the text: a few kilobytes of records over the same vertices would make
// gigabytes. Overlap is real (sub-meshes may share vertices), but never this many times over.
constexpr uint64_t kMaxRepeats = 64;

void CheckRepeats(const TMeshBase& mesh) {
  uint64_t vertex_lines = 0, indices = 0;
  for (size_t k = 0; k < mesh.SubMeshCount(); ++k) {
    vertex_lines += mesh.SubMesh(k).vertex_count;
    // A face range past the index buffer fails when it is written; what can be written counts.
    const uint64_t asked =
        mesh.IsStrip(k) ? mesh.SubMesh(k).index_count : uint64_t{3} * mesh.FaceCount(k);
    indices += std::min<uint64_t>(asked, mesh.TotalIndices());
  }
  if (vertex_lines > kMaxRepeats * std::max<uint64_t>(mesh.VertexCount(), 1) ||
      indices > kMaxRepeats * std::max<uint64_t>(mesh.TotalIndices(), 1))
    throw MeshDecodeError(MeshDecodeError::kUndecodable, "sub-meshes repeat the mesh too often");
}

}  // namespace

std::string BuildObjText(const TMeshBase& mesh, const std::string& file_name) {
  CheckRepeats(mesh);
  std::string body;
  bool faces = false;
  uint64_t listed = 0;  // vertices the sub-meshes name
  for (size_t k = 0; k < mesh.SubMeshCount(); ++k) {
    faces = faces || (mesh.IsStrip(k) ? mesh.SubMesh(k).index_count >= 3 : mesh.FaceCount(k) > 0);
    listed += mesh.SubMesh(k).vertex_count;
  }
  const bool points = !faces && mesh.VertexCount() > 0;
  ObjText writer(mesh, body, points);
  const std::string group = WithoutExtension(file_name);
  if (points && listed == 0) {
    writer.AllPoints(group);
  } else {
    for (size_t k = 0; k < mesh.SubMeshCount(); ++k) writer.SubMesh(k, group);
  }
  return Summary(mesh) + body;
}

namespace {

// Vertex data kept in a resource (a contained file of the bundle, or a file beside the
// archive), found as streamed textures find theirs. Throws the missing-file failure when the
// file is missing or its path would leave the archive's folder.
void LoadStreamedVertices(const ConverterCall& call, ConverterContext& ctx,
                          const MeshStreamData& streamed, TMeshBase& mesh) {
  std::unique_ptr<ByteSource> source;
  std::string name;
  if (!OpenBundleResource(ctx, streamed.path, &source, &name))
    source =
        OpenResourceFile(ctx, streamed.path, FieldResourceFile(call, ctx, streamed.path, &name));
  if (streamed.offset > source->Size() || streamed.size > source->Size() - streamed.offset)
    throw MeshDecodeError(MeshDecodeError::kUndecodable, "vertex data past the resource file");
  std::vector<uint8_t> data(streamed.size);
  source->ReadAt(streamed.offset, data.data(), data.size());
  mesh.SetStreamedVertexData(std::move(data));
}

}  // namespace

void ExportObj(const ConverterCall& call, ConverterContext& ctx, int32_t major_version) {
  const std::string& name = call.file_name;
  if (call.big_endian) {
    std::string text = name + " " + Str(kStrMeshBigEndian);
    ctx.Done(text);
    throw Error(text);
  }
  std::string obj;
  try {
    std::vector<uint8_t> payload = call.stream.ReadBytes(call.payload_size);
    MemorySource memory(payload);
    Reader in(memory);
    TMeshBase mesh;
    const EngineVersion& engine = ctx.session().Asset.Engine;
    if (engine.Known && engine.Major == major_version) {
      mesh.Decode(in, engine, call.type_tree);
    } else {
      mesh.Decode(in, major_version);
    }
    if (const MeshStreamData* streamed = mesh.StreamedData())
      LoadStreamedVertices(call, ctx, *streamed, mesh);
    obj = BuildObjText(mesh, name);
  } catch (const MissingResourceError&) {
    throw;  // says which file is missing
  } catch (const MeshDecodeError& e) {
    int key = e.kind() == MeshDecodeError::kCompressed ? kStrMeshCompressed : kStrMeshMemory;
    throw Error(name + " " + Str(key));
  } catch (const Error&) {
    // The payload itself runs past the end of the archive.
    throw Error(name + " " + Str(kStrMeshMemory));
  } catch (const std::bad_alloc&) {
    throw Error(name + " " + Str(kStrMeshMemory));
  } catch (const std::exception&) {
    throw Error(name + " " + Str(kStrMeshConvert));
  }
  try {
    OutputFile out(MakeOutputFolder(call, "") + name + ".obj");
    out.Write(obj);
    out.Close();
  } catch (const RefusedFile&) {
    throw;  // its own message names the planted file
  } catch (const std::exception&) {
    throw Error(name + " " + Str(kStrMeshConvert));
  }
  ctx.Done(name + " -> OBJ");
}

}  // namespace kestrix
