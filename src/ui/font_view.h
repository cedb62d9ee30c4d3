// The preview of a font: sample lines in Latin and Cyrillic letters and digits, set in the font
// itself at a few sizes. The font is lent to the application while it is shown.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace kestrix {

class FontView : public QWidget {
  Q_OBJECT

 public:
  explicit FontView(QWidget* parent = nullptr);
  ~FontView() override;

  // Registers the font file and shows it; false (and a note instead of samples) when the font
  // system does not take it.
  bool SetFont(const std::vector<uint8_t>& file);
  // Gives the font back and hides the view.
  void Clear();
  // The family the font registered as; empty when none.
  const QString& Family() const { return family_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int font_id_ = -1;
  QString family_;
};

}  // namespace kestrix
