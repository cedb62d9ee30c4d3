// The preview of a mesh: a shaded picture that turns while the mouse drags over it. Pictures are
// drawn off the window's thread, one at a time; turns that arrive meanwhile make one more.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

#include "export/mesh_preview.h"

class QThreadPool;

namespace kestrix {

class MeshView : public QWidget {
  Q_OBJECT

 public:
  explicit MeshView(QWidget* parent = nullptr);
  ~MeshView() override;

  // Shows the mesh from the first angle; nullptr forgets the mesh and hides the view.
  void SetMesh(std::shared_ptr<const PreviewMesh> mesh);
  // Degrees, as a drag turns it.
  void Turn(float yaw, float pitch);
  float Yaw() const { return yaw_; }
  float Pitch() const { return pitch_; }
  // The picture last shown, and how many have been shown.
  const QImage& Picture() const { return picture_; }
  int PicturesShown() const { return pictures_shown_; }
  // Returns once no picture is being drawn and the last one is shown (tests, screenshots).
  void WaitForPicture();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Draw();
  void Drawn(int generation, const QImage& picture);

  QThreadPool* pool_ = nullptr;
  std::shared_ptr<const PreviewMesh> mesh_;
  float yaw_ = 0, pitch_ = 0;
  QPoint drag_from_;
  int generation_ = 0;  // counts meshes: a picture of an earlier one is dropped
  bool drawing_ = false;
  bool again_ = false;  // the angle or size changed while a picture was being drawn
  QImage picture_;
  int pictures_shown_ = 0;
};

}  // namespace kestrix
