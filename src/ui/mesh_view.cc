#include "ui/mesh_view.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

namespace kestrix {

namespace {

// A three-quarter view from above the model's front (the engine's models face forward, +z).
constexpr float kFirstYaw = 210, kFirstPitch = 20;
constexpr float kDegreesPerPixel = 0.5f;

}  // namespace

MeshView::MeshView(QWidget* parent) : QWidget(parent) {
  setObjectName("MeshPreview");
  setCursor(Qt::OpenHandCursor);
  pool_ = new QThreadPool(this);
  pool_->setMaxThreadCount(1);
  hide();
}

MeshView::~MeshView() { pool_->waitForDone(); }

void MeshView::SetMesh(std::shared_ptr<const PreviewMesh> mesh) {
  ++generation_;
  mesh_ = std::move(mesh);
  picture_ = QImage();
  yaw_ = kFirstYaw, pitch_ = kFirstPitch;
  setVisible(mesh_ != nullptr);
  if (mesh_) Draw();
  update();
}

void MeshView::Turn(float yaw, float pitch) {
  yaw_ = std::fmod(yaw_ + yaw, 360.0f);
  pitch_ = std::clamp(pitch_ + pitch, -90.0f, 90.0f);
  Draw();
}

void MeshView::Draw() {
  if (!mesh_ || width() <= 0 || height() <= 0) return;
  if (drawing_) {
    again_ = true;
    return;
  }
  drawing_ = true;
  again_ = false;
  pool_->start([this, mesh = mesh_, generation = generation_, w = width(), h = height(), yaw = yaw_,
                pitch = pitch_] {
    const RgbaImage drawn = RenderMesh(*mesh, w, h, yaw, pitch);
    QImage picture = QImage(drawn.pixels.data(), drawn.width, drawn.height, drawn.width * 4,
                            QImage::Format_RGBA8888)
                         .copy();
    QMetaObject::invokeMethod(
        this, [this, generation, picture] { Drawn(generation, picture); }, Qt::QueuedConnection);
  });
}

void MeshView::Drawn(int generation, const QImage& picture) {
  drawing_ = false;
  if (generation == generation_) {
    picture_ = picture;
    ++pictures_shown_;
    update();
  }
  if (again_ || generation != generation_) Draw();
}

void MeshView::WaitForPicture() {
  do {
    pool_->waitForDone();
    QCoreApplication::sendPostedEvents(this);
  } while (drawing_);
}

void MeshView::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.drawImage((width() - picture_.width()) / 2, (height() - picture_.height()) / 2, picture_);
}

void MeshView::resizeEvent(QResizeEvent*) { Draw(); }

void MeshView::mousePressEvent(QMouseEvent* event) { drag_from_ = event->position().toPoint(); }

void MeshView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const QPoint at = event->position().toPoint();
  const QPoint moved = at - drag_from_;
  drag_from_ = at;
  Turn(moved.x() * kDegreesPerPixel, moved.y() * kDegreesPerPixel);
}

}  // namespace kestrix
