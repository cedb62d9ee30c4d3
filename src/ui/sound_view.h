// The preview of a sound: what it is (container and codec, channels, rate, length) and, when
// the program is built with a sound output and the sound is Ogg Vorbis or PCM WAV, a button that
// plays it. Decoding runs off the window's thread and the output plays on its own.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "export/sound_info.h"

class QLabel;
class QPushButton;
class QThreadPool;

namespace kestrix {

class SoundView : public QWidget {
  Q_OBJECT

 public:
  explicit SoundView(QWidget* parent = nullptr);
  ~SoundView() override;

  void SetSound(std::vector<uint8_t> file, const SoundInfo& info);
  // Stops playing and hides the view.
  void Clear();
  // nullptr when the program has no sound output.
  QPushButton* PlayButton() const { return play_; }
  QLabel* Details() const { return details_; }
  QLabel* Status() const { return status_; }
  bool Playing() const { return playing_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Output;
  void PlayOrStop();
  void Stop();
  void Decoded(int generation, const QString& error);

  QLabel* details_ = nullptr;
  QPushButton* play_ = nullptr;
  QLabel* status_ = nullptr;
  QThreadPool* pool_ = nullptr;
  std::shared_ptr<const std::vector<uint8_t>> file_;
  int generation_ = 0;  // counts plays and sounds: a decode finished for an earlier one is dropped
  bool playing_ = false;
  std::unique_ptr<Output> output_;
};

}  // namespace kestrix
