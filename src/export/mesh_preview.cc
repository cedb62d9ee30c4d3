#include "export/mesh_preview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "export/mesh_decoder.h"

namespace kestrix {

namespace {

// A preview of a mesh whose sub-meshes repeat it many times over draws it a few times only.
constexpr size_t kMaxTriangles = 4'000'000;

struct Vec3 {
  float x, y, z;
};

Vec3 Sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Normalized(Vec3 v) {
  const float length = std::sqrt(Dot(v, v));
  return length > 0 && std::isfinite(length) ? Vec3{v.x / length, v.y / length, v.z / length}
                                             : Vec3{0, 0, 0};
}

class Rotation {
 public:
  Rotation(float yaw, float pitch) {
    const float y = yaw * 3.14159265f / 180, p = pitch * 3.14159265f / 180;
    const float cy = std::cos(y), sy = std::sin(y), cp = std::cos(p), sp = std::sin(p);
    // About the vertical axis first, then about the horizontal one.
    m_[0] = {cy, 0, sy};
    m_[1] = {sy * sp, cp, -cy * sp};
    m_[2] = {-sy * cp, sp, cy * cp};
  }
  Vec3 operator()(Vec3 v) const { return {Dot(m_[0], v), Dot(m_[1], v), Dot(m_[2], v)}; }

 private:
  Vec3 m_[3];
};

Vec3 At(const std::vector<float>& values, uint32_t i) {
  return {values[3 * size_t{i}], values[3 * size_t{i} + 1], values[3 * size_t{i} + 2]};
}

bool Finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void AddTriangle(PreviewMesh& out, uint32_t a, uint32_t b, uint32_t c) {
  if (out.triangles.size() >= 3 * kMaxTriangles) {
    out.cut = true;
    return;
  }
  out.triangles.insert(out.triangles.end(), {a, b, c});
}

struct Projected {
  float x, y, depth, light;
};

// Fills one triangle into the picture where it is nearer than what is there already, its light
// blended between the corners.
void FillTriangle(const Projected& a, const Projected& b, const Projected& c, int width, int height,
                  std::vector<float>& depth, RgbaImage& out) {
  const float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (!(std::fabs(area) > 1e-12f)) return;
  const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
  const int x1 = std::min(width - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
  const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
  const int y1 = std::min(height - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
  const float inverse = 1 / area;
  for (int y = y0; y <= y1; ++y) {
    const float py = y + 0.5f;
    for (int x = x0; x <= x1; ++x) {
      const float px = x + 0.5f;
      const float wa = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) * inverse;
      const float wb = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) * inverse;
      const float wc = 1 - wa - wb;
      if (wa < 0 || wb < 0 || wc < 0) continue;
      const float z = wa * a.depth + wb * b.depth + wc * c.depth;
      const size_t at =
          static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      if (z >= depth[at]) continue;
      depth[at] = z;
      const float light = std::clamp(wa * a.light + wb * b.light + wc * c.light, 0.0f, 1.0f);
      uint8_t* pixel = &out.pixels[4 * at];
      pixel[0] = static_cast<uint8_t>(200 * light + 20);
      pixel[1] = static_cast<uint8_t>(205 * light + 22);
      pixel[2] = static_cast<uint8_t>(215 * light + 30);
      pixel[3] = 255;
    }
  }
}

}  // namespace

PreviewMesh PreviewMeshOf(const TMeshBase& mesh) {
  PreviewMesh out;
  out.vertex_count = mesh.VertexCount();
  out.sub_meshes = mesh.SubMeshCount();
  out.positions.reserve(3 * size_t{out.vertex_count});
  bool has_normals = false;
  for (uint32_t i = 0; i < out.vertex_count; ++i) {
    const MeshVector3 p = mesh.Position(i), n = mesh.Normal(i);
    out.positions.insert(out.positions.end(), {p.x, p.y, p.z});
    out.normals.insert(out.normals.end(), {n.x, n.y, n.z});
    has_normals = has_normals || n.x != 0 || n.y != 0 || n.z != 0;
  }
  if (!has_normals) out.normals.clear();
  for (size_t k = 0; k < mesh.SubMeshCount() && !out.cut; ++k) {
    const MeshSubMesh& s = mesh.SubMesh(k);
    if (mesh.IsStrip(k)) {
      // Each run of three is a triangle; a repeated index makes the empty ones that join runs.
      const uint64_t start = mesh.FirstIndex(k), end = start + s.index_count;
      for (uint64_t p = start; p + 2 < end && !out.cut; ++p) {
        const uint32_t a = mesh.Index(p, s.base_vertex), b = mesh.Index(p + 1, s.base_vertex),
                       c = mesh.Index(p + 2, s.base_vertex);
        if (a != b && b != c && a != c) AddTriangle(out, a, b, c);
      }
      continue;
    }
    // Quads, lines and points (engine 4 on) have no triangles to draw.
    if (mesh.version() >= 4 && s.topology != 0) continue;
    const uint64_t first = mesh.FirstFace(k);
    for (uint64_t f = first; f < first + mesh.FaceCount(k) && !out.cut; ++f)
      AddTriangle(out, mesh.Index(3 * f, s.base_vertex), mesh.Index(3 * f + 1, s.base_vertex),
                  mesh.Index(3 * f + 2, s.base_vertex));
  }
  return out;
}

std::string MeshCaption(const PreviewMesh& mesh) {
  std::string text = "Mesh, " + std::to_string(mesh.vertex_count) + " vertices, " +
                     std::to_string(mesh.triangles.size() / 3) + " triangles";
  if (mesh.sub_meshes > 1) text += ", " + std::to_string(mesh.sub_meshes) + " sub-meshes";
  if (mesh.cut) text += " (the first ones drawn)";
  return text;
}

RgbaImage RenderMesh(const PreviewMesh& mesh, int width, int height, float yaw, float pitch) {
  RgbaImage out;
  out.width = std::max(width, 1);
  out.height = std::max(height, 1);
  out.pixels.assign(4 * size_t(out.width) * size_t(out.height), 0);
  // The box around what the triangles use, so that stray unused vertices do not shrink the view.
  constexpr float kBig = std::numeric_limits<float>::max();
  Vec3 low{kBig, kBig, kBig}, high{-kBig, -kBig, -kBig};
  for (uint32_t i : mesh.triangles) {
    const Vec3 p = At(mesh.positions, i);
    if (!Finite(p)) continue;
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  if (low.x > high.x) return out;
  const Vec3 centre{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
  // The half diagonal bounds the model at every turn.
  const float radius = std::sqrt(Dot(Sub(high, centre), Sub(high, centre)));
  const float scale = 0.95f * std::min(out.width, out.height) / (2 * std::max(radius, 1e-20f));
  const Rotation turn(yaw, pitch);
  const Vec3 light = Normalized({-0.45f, 0.55f, -0.7f});  // towards the light, viewer at -z
  const bool smooth = !mesh.normals.empty();

  std::vector<Projected> projected(mesh.vertex_count);
  for (uint32_t i = 0; i < mesh.vertex_count; ++i) {
    const Vec3 v = turn(Sub(At(mesh.positions, i), centre));
    float shade = 0;
    if (smooth) shade = 0.2f + 0.8f * std::fabs(Dot(Normalized(turn(At(mesh.normals, i))), light));
    projected[i] = {out.width / 2.0f + v.x * scale, out.height / 2.0f - v.y * scale, v.z * scale,
                    shade};
  }
  std::vector<float> depth(size_t(out.width) * size_t(out.height), kBig);
  for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
    Projected a = projected[mesh.triangles[t]], b = projected[mesh.triangles[t + 1]],
              c = projected[mesh.triangles[t + 2]];
    if (!smooth) {
      // Without stored normals every triangle is lit by its own facing.
      const Vec3 pa{a.x, -a.y, a.depth}, pb{b.x, -b.y, b.depth}, pc{c.x, -c.y, c.depth};
      const float shade =
          0.2f + 0.8f * std::fabs(Dot(Normalized(Cross(Sub(pb, pa), Sub(pc, pa))), light));
      a.light = b.light = c.light = shade;
    }
    FillTriangle(a, b, c, out.width, out.height, depth, out);
  }
  return out;
}

}  // namespace kestrix
