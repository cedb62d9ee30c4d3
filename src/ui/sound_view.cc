#include "ui/sound_view.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <exception>

#if KESTRIX_HAVE_SOUND
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

#include "ui/sound_decode.h"
#endif

namespace kestrix {

namespace {

QString DetailLines(const SoundInfo& info) {
  QString text = "Format: " + QString::fromStdString(info.format);
  if (info.channels > 0) text += "\nChannels: " + QString::number(info.channels);
  if (info.frequency > 0) text += "\nFrequency: " + QString::number(info.frequency) + " Hz";
  if (info.seconds >= 0) text += "\nLength: " + QString::number(info.seconds, 'f', 2) + " s";
  return text;
}

}  // namespace

#if KESTRIX_HAVE_SOUND
// The decoded sound and the output playing it.
struct SoundView::Output {
  PcmSound pcm;
  QByteArray bytes;
  QBuffer buffer;
  std::unique_ptr<QAudioSink> sink;
};
#else
struct SoundView::Output {};
#endif

SoundView::SoundView(QWidget* parent) : QWidget(parent) {
  setObjectName("SoundPreview");
  details_ = new QLabel(this);
  details_->setObjectName("SoundDetails");
  details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_ = new QLabel(this);
  status_->setObjectName("SoundStatus");
  status_->setWordWrap(true);
#if KESTRIX_HAVE_SOUND
  play_ = new QPushButton("Play", this);
  play_->setObjectName("SoundPlay");
  connect(play_, &QPushButton::clicked, this, [this] { PlayOrStop(); });
#endif
  pool_ = new QThreadPool(this);
  pool_->setMaxThreadCount(1);
  hide();
}

SoundView::~SoundView() {
  Stop();
  pool_->waitForDone();
}

void SoundView::resizeEvent(QResizeEvent*) {
  details_->setGeometry(6, 4, width() - 12, 80);
  if (play_) play_->setGeometry(6, 90, 90, 26);
  status_->setGeometry(6, 122, width() - 12, 40);
}

void SoundView::SetSound(std::vector<uint8_t> file, const SoundInfo& info) {
  Stop();
  file_ = std::make_shared<const std::vector<uint8_t>>(std::move(file));
  details_->setText(DetailLines(info));
  status_->clear();
  if (play_) {
    play_->setEnabled(info.playable && !file_->empty());
    play_->setToolTip(play_->isEnabled() ? QString()
                                         : "Only Ogg Vorbis and PCM WAV sounds are played.");
  }
  show();
}

void SoundView::Clear() {
  Stop();
  file_.reset();
  hide();
}

void SoundView::Stop() {
  ++generation_;
  playing_ = false;
  if (play_) play_->setText("Play");
#if KESTRIX_HAVE_SOUND
  // The output is stopped before its buffer goes.
  if (output_ && output_->sink) output_->sink->stop();
#endif
  output_.reset();
}

void SoundView::PlayOrStop() {
#if KESTRIX_HAVE_SOUND
  if (playing_) {
    Stop();
    return;
  }
  Stop();
  playing_ = true;
  play_->setText("Stop");
  status_->setText("Decoding...");
  // A long sound takes a while to decode; the window goes on meanwhile.
  pool_->start([this, generation = generation_, file = file_] {
    auto pcm = std::make_shared<PcmSound>();
    QString error;
    try {
      *pcm = DecodeSound(*file);
    } catch (const std::exception& e) {
      error = QString::fromUtf8(e.what());
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, error, pcm] {
          if (generation != generation_) return;
          output_ = std::make_unique<Output>();
          output_->pcm = std::move(*pcm);
          Decoded(generation, error);
        },
        Qt::QueuedConnection);
  });
#endif
}

void SoundView::Decoded(int generation, const QString& error) {
#if KESTRIX_HAVE_SOUND
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  QString problem = error;
  if (problem.isEmpty() && device.isNull()) problem = "There is no sound output on this system.";
  const PcmSound& pcm = output_->pcm;
  if (problem.isEmpty() && (pcm.channels <= 0 || pcm.frequency <= 0 || pcm.samples.empty()))
    problem = "The sound holds no samples.";
  if (!problem.isEmpty()) {
    Stop();
    status_->setText(problem);
    return;
  }
  QAudioFormat format;
  format.setSampleRate(pcm.frequency);
  format.setChannelCount(pcm.channels);
  format.setSampleFormat(QAudioFormat::Int16);
  output_->bytes = QByteArray(reinterpret_cast<const char*>(pcm.samples.data()),
                              static_cast<qsizetype>(pcm.samples.size() * sizeof(int16_t)));
  output_->buffer.setBuffer(&output_->bytes);
  output_->buffer.open(QIODevice::ReadOnly);
  output_->sink = std::make_unique<QAudioSink>(device, format);
  connect(output_->sink.get(), &QAudioSink::stateChanged, this,
          [this, generation](QAudio::State s) {
            // The output goes idle once the buffer is played out.
            // The sink is not deleted inside its own signal: the stop comes after it.
            if (s != QAudio::IdleState) return;
            QMetaObject::invokeMethod(
                this,
                [this, generation] {
                  if (generation != generation_) return;
                  Stop();
                  status_->clear();
                },
                Qt::QueuedConnection);
          });
  output_->sink->start(&output_->buffer);
  status_->setText(output_->sink->error() == QAudio::NoError ? "Playing."
                                                             : "The sound output refused it.");
  if (output_->sink->error() != QAudio::NoError) Stop();
#else
  (void)generation;
  (void)error;
#endif
}

}  // namespace kestrix
