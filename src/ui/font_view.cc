#include "ui/font_view.h"

#include <QByteArray>
#include <QFontDatabase>
#include <QPainter>
#include <QStringList>

namespace kestrix {

namespace {

const char* const kSamples[] = {
    "The quick brown fox jumps over the lazy dog",
    "\xD0\xA1\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xD0\xB6\xD0\xB5 \xD0\xB5\xD1\x89\xD1\x91 "
    "\xD1\x8D\xD1\x82\xD0\xB8\xD1\x85 \xD0\xBC\xD1\x8F\xD0\xB3\xD0\xBA\xD0\xB8\xD1\x85 "
    "\xD1\x84\xD1\x80\xD0\xB0\xD0\xBD\xD1\x86\xD1\x83\xD0\xB7\xD1\x81\xD0\xBA\xD0\xB8\xD1\x85 "
    "\xD0\xB1\xD1\x83\xD0\xBB\xD0\xBE\xD0\xBA",  // every Cyrillic letter
    "0123456789 !?&@#%",
};
constexpr int kSizes[] = {12, 18, 28, 40};

}  // namespace

FontView::FontView(QWidget* parent) : QWidget(parent) {
  setObjectName("FontPreview");
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  hide();
}

FontView::~FontView() { Clear(); }

bool FontView::SetFont(const std::vector<uint8_t>& file) {
  Clear();
  font_id_ = QFontDatabase::addApplicationFontFromData(
      QByteArray(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size())));
  if (font_id_ >= 0) {
    const QStringList families = QFontDatabase::applicationFontFamilies(font_id_);
    if (!families.isEmpty()) family_ = families.first();
  }
  show();
  update();
  return !family_.isEmpty();
}

void FontView::Clear() {
  if (font_id_ >= 0) QFontDatabase::removeApplicationFont(font_id_);
  font_id_ = -1;
  family_.clear();
  hide();
}

void FontView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  if (family_.isEmpty()) {
    painter.drawText(rect().adjusted(6, 6, -6, -6), Qt::TextWordWrap,
                     "The font system does not take this font file.");
    return;
  }
  int y = 4;
  for (int size : kSizes) {
    // Letters the font lacks show as its own missing-glyph mark, not in another font.
    QFont font(family_);
    font.setPixelSize(size);
    font.setStyleStrategy(QFont::NoFontMerging);
    painter.setFont(font);
    const int line = QFontMetrics(font).lineSpacing();
    for (const char* sample : kSamples) {
      y += line;
      if (y - line > height()) return;
      painter.drawText(6, y - QFontMetrics(font).descent(), QString::fromUtf8(sample));
    }
    y += line / 3;
  }
}

}  // namespace kestrix
