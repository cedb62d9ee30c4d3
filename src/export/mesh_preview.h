// A mesh reduced to what a shaded picture of it needs, and a small software renderer for it:
// the window turns the model with the mouse, and no graphics driver is needed for that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/pixels.h"

namespace kestrix {

class TMeshBase;

struct PreviewMesh {
  std::vector<float> positions;     // x, y, z per vertex
  std::vector<float> normals;       // x, y, z per vertex; empty when the mesh stores none
  std::vector<uint32_t> triangles;  // three vertex numbers per triangle
  uint32_t vertex_count = 0;
  size_t sub_meshes = 0;
  bool cut = false;  // more triangles than a preview draws; the first ones are kept
};

// The triangles of every sub-mesh (strips unrolled; lines and points draw nothing). Throws
// MeshDecodeError for an index past the index buffer or the vertex table.
PreviewMesh PreviewMeshOf(const TMeshBase& mesh);

// "Mesh, 1234 vertices, 2000 triangles, 2 sub-meshes".
std::string MeshCaption(const PreviewMesh& mesh);

// The model seen along the engine's forward axis, turned by `yaw` about the vertical axis and
// then by `pitch` about the horizontal one (degrees), scaled so that it fits the picture at
// any turn. One light from the viewer's upper left; what no triangle covers is transparent.
RgbaImage RenderMesh(const PreviewMesh& mesh, int width, int height, float yaw, float pitch);

}  // namespace kestrix
