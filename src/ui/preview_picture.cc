#include "ui/preview_picture.h"

#include <algorithm>

namespace kestrix {

QImage FitPicture(const RgbaImage& p, const QSize& area) {
  const QImage image(p.pixels.data(), p.width, p.height, p.width * 4, QImage::Format_RGBA8888);
  const int across = area.width(), down = area.height();
  if (p.width > across || p.height > down)
    return image.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  const int factor = std::min(across / std::max(1, p.width), down / std::max(1, p.height));
  if (factor > 1) return image.scaled(image.size() * factor, Qt::KeepAspectRatio);
  return image.copy();
}

}  // namespace kestrix
