// A texture's picture fitted to the preview: made on the preview's worker thread, since scaling a
// 4096x4096 picture down takes longer than the window may pause.
#pragma once

#include <QImage>
#include <QSize>

#include "export/pixels.h"

namespace kestrix {

// Larger pictures are scaled down smoothly to fit `area`; smaller ones are enlarged by a whole
// factor, each texel a sharp square.
QImage FitPicture(const RgbaImage& picture, const QSize& area);

}  // namespace kestrix
