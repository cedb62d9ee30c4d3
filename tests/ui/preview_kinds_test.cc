// Meshes, fonts and sounds in the preview pane, on real archives and on made ones, and the
// window taking input while a large mesh or texture preview is made.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>

#if KESTRIX_HAVE_SOUND
#include <vorbis/vorbisfile.h>
#endif

#include "core/localization.h"
#include "core/session.h"
#include "export/entry_preview.h"
#include "platform/language.h"
#include "support/asset_builder.h"
#include "support/mesh_payloads.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"
#include "types/class_ids.h"
#include "ui/font_view.h"
#include "ui/list_model.h"
#include "ui/main_window.h"
#include "ui/mesh_view.h"
#include "ui/sound_view.h"

namespace kestrix {
namespace {

using testing::AssetSpec;
using testing::Bytes;
using testing::ByteWriter;
using testing::NamedObject;

std::string S(const QString& q) { return q.toStdString(); }

int CoveredPixels(const QImage& picture) {
  int covered = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) covered += qAlpha(picture.pixel(x, y)) != 0;
  return covered;
}

class PreviewKindsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocalization(kLangEnglish);
    form_ = std::make_unique<TForm1>();
    form_->SetBoxSink([](bool, const std::string&) {});
    form_->show();
    form_->ApplySizeRules(QSize(1920, 1080));  // the pane shows beside the list
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  TForm1& form() { return *form_; }
  void Select(int row) {
    form().ListView1->clearSelection();
    form().ListView1->selectionModel()->select(
        form().model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  void Preview(int row) {
    Select(row);
    form().WaitForPreview();
    form().MeshPreview->WaitForPicture();
  }
  // The rows of corpus archives whose entries are of class `cls`; `visit` returns false to stop.
  void ForEachCorpusEntry(int32_t cls, const std::function<bool(const std::string&, int)>& visit) {
    if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
    const std::string wanted = std::to_string(cls) + "x";
    for (const testing::CorpusRow& row : testing::CorpusManifest()) {
      if (row.big_endian) continue;
      if (("," + row.classes_present).find("," + wanted) == std::string::npos) continue;
      std::string path = testing::CorpusDir() + "/" + row.relpath;
      if (!testing::IsHandledPlainFile(row)) {
        if (!testing::IsReadableBundle(row) || !testing::FormatsWithin(row)) continue;
        // A bundle unpacks beside itself: it is opened from a copy.
        const std::string copy = dir_.File(path.substr(path.find_last_of('/') + 1));
        testing::CopyFile(path, copy);
        path = copy;
      }
      form().OpenPath(path);
      for (int r = 0; r < form().model().rowCount(); ++r)
        if (form().model().Rows()[static_cast<size_t>(r)].ClassId == cls && !visit(row.relpath, r))
          return;
    }
  }

  testing::TempDir dir_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(PreviewKindsTest, CorpusMeshesDrawAndTurnWithTheMouse) {
  int drawn = 0;
  ForEachCorpusEntry(kClassMesh, [&](const std::string& rel, int row) {
    Preview(row);
    if (!form().MeshPreview->isVisible()) return true;  // compressed ones say why in the text
    const std::string where = rel + " row " + std::to_string(row);
    const QImage first = form().MeshPreview->Picture();
    EXPECT_EQ(first.size(), form().MeshPreview->size()) << where;
    if (CoveredPixels(first) == 0) return true;  // a mesh of lines or points, or no triangles
    EXPECT_NE(S(form().PreviewCaption->text()).find(" triangles"), std::string::npos) << where;
    // A drag across the view turns the model and draws it again.
    QWidget* view = form().MeshPreview;
    const QPoint centre = view->rect().center();
    QTest::mousePress(view, Qt::LeftButton, {}, centre);
    QMouseEvent move(QEvent::MouseMove, QPointF(centre + QPoint(30, 40)),
                     view->mapToGlobal(QPointF(centre + QPoint(30, 40))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, centre + QPoint(30, 40));
    form().MeshPreview->WaitForPicture();
    EXPECT_FLOAT_EQ(form().MeshPreview->Pitch(), 40.0f) << where;
    EXPECT_NE(form().MeshPreview->Picture(), first) << where;
    EXPECT_GT(CoveredPixels(form().MeshPreview->Picture()), 0) << where;
    return ++drawn < 12;
  });
  EXPECT_GE(drawn, 12);
}

TEST_F(PreviewKindsTest, CorpusFontsRegisterTheirFamilyUntilReplaced) {
  int fonts = 0;
  ForEachCorpusEntry(kClassFont, [&](const std::string& rel, int row) {
    const QStringList before = QFontDatabase::families();
    Preview(row);
    if (!form().FontPreview->isVisible()) return true;  // a font without its file
    const QString family = form().FontPreview->Family();
    EXPECT_FALSE(family.isEmpty()) << rel;
    EXPECT_TRUE(QFontDatabase::families().contains(family)) << rel;
    EXPECT_NE(S(form().PreviewCaption->text()).find(S(family)), std::string::npos) << rel;
    // Another row's preview gives the font back.
    Preview(row == 0 ? 1 : 0);
    EXPECT_FALSE(form().FontPreview->isVisible()) << rel;
    if (!before.contains(family)) {
      EXPECT_FALSE(QFontDatabase::families().contains(family)) << rel;
    }
    ++fonts;
    return true;
  });
  EXPECT_GE(fonts, 2);  // the others are references to system fonts, without a file
}

#if KESTRIX_HAVE_SOUND
// What libvorbisfile, reading the sound on its own, makes of it.
std::string VorbisCaption(const std::string& path) {
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return "not Ogg Vorbis";
  const vorbis_info* info = ov_info(&vf, -1);
  const long tenths = std::lround(ov_time_total(&vf, -1) * 10);
  char text[96];
  std::snprintf(text, sizeof text, "Ogg Vorbis, %d channel%s, %ld Hz, %ld:%02ld.%ld",
                info->channels, info->channels == 1 ? "" : "s", info->rate, tenths / 600,
                tenths / 10 % 60, tenths % 10);
  ov_clear(&vf);
  return text;
}
#endif

TEST_F(PreviewKindsTest, CorpusSoundsStateWhatTheClipHolds) {
  int ogg = 0, described = 0;
  ForEachCorpusEntry(kClassAudioClip, [&](const std::string& rel, int row) {
    Preview(row);
    const std::string caption = S(form().PreviewCaption->text());
    if (!form().SoundPreview->isVisible()) return true;  // a sound in a file not there
    ++described;
    const EntryPreview p = MakeEntryPreview(form().session(), static_cast<size_t>(row));
    EXPECT_EQ(p.kind, EntryPreview::Kind::kSound) << rel;
#if KESTRIX_HAVE_SOUND
    QPushButton* play = form().SoundPreview->PlayButton();
    EXPECT_TRUE(play && play->isEnabled() == (caption.rfind("Ogg Vorbis", 0) == 0 ||
                                              caption.rfind("WAV PCM 16-bit", 0) == 0))
        << rel << ": " << caption;
#endif
    if (caption.rfind("Ogg Vorbis", 0) != 0) {
      // Clips of engine 5 on name channels, rate and length among their fields.
      if (caption.rfind("FSB5", 0) == 0) {
        EXPECT_GT(p.sound.channels, 0) << rel << ": " << caption;
        EXPECT_GT(p.sound.frequency, 0) << rel << ": " << caption;
        EXPECT_GE(p.sound.seconds, 0) << rel << ": " << caption;
      }
      return true;
    }
    ++ogg;
#if KESTRIX_HAVE_SOUND
    const std::string file = dir_.File("sound.ogg");
    testing::WriteFileBytes(file, p.data);
    EXPECT_EQ(caption, VorbisCaption(file)) << rel << " row " << row;
#endif
    return true;
  });
  // The corpus holds WAV and FSB5 clips; Ogg Vorbis is checked on a made one below.
  EXPECT_GE(described, 5);
  std::printf("%d Ogg Vorbis clips in the corpus\n", ogg);
}

// WAV and Ogg Vorbis clips as engine 4 keeps them (the sound inside the payload), and the play
// button for them. The Ogg stream is made by oggenc from the WAV file.
TEST_F(PreviewKindsTest, WavAndOggClipsShowWhatTheyAreAndCanPlay) {
  ByteWriter wav;
  const uint32_t data_bytes = 22050 * 2 * 2 * 3 / 2;  // 1.5 seconds of 16-bit stereo
  wav.Text("RIFF").U32(36 + data_bytes).Text("WAVE").Text("fmt ").U32(16);
  wav.U16(1).U16(2).U32(22050).U32(22050 * 4).U16(4).U16(16).Text("data").U32(data_bytes);
  Bytes sound = wav.Take();
  for (uint32_t i = 0; i < data_bytes / 2; ++i) {
    const int16_t sample = static_cast<int16_t>(8000 * std::sin(i * 0.05));
    sound.push_back(static_cast<uint8_t>(sample & 0xFF));
    sound.push_back(static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8));
  }
  testing::WriteFileBytes(dir_.File("tone.wav"), sound);
  const std::string encode =
      "oggenc -Q -o '" + dir_.File("tone.ogg") + "' '" + dir_.File("tone.wav") + "'";
  ASSERT_EQ(std::system(encode.c_str()), 0) << "oggenc (vorbis-tools) is needed";
  AssetSpec desc;
  desc.unity_version = "4.6.1f1";
  for (const char* file : {"tone.wav", "tone.ogg"}) {
    ByteWriter clip;
    const Bytes bytes = testing::ReadFileBytes(dir_.File(file));
    clip.U32(0).U32(20).U32(0).U32(0).U32(static_cast<uint32_t>(bytes.size())).Raw(bytes);
    desc.objects.push_back({kClassAudioClip, NamedObject(file, clip.Take())});
  }
  desc.objects.push_back({49, NamedObject("note", Bytes(8, 'a'))});
  const std::string path = dir_.File("sound.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().OpenPath(path);

  Preview(0);
  EXPECT_EQ(S(form().PreviewCaption->text()), "WAV PCM 16-bit, 2 channels, 22050 Hz, 0:01.5");
  EXPECT_TRUE(form().SoundPreview->isVisible());
  EXPECT_NE(S(form().SoundPreview->Details()->text()).find("Length: 1.50 s"), std::string::npos);
  Preview(1);
  const std::string ogg = S(form().PreviewCaption->text());
  EXPECT_EQ(ogg.rfind("Ogg Vorbis, 2 channels, 22050 Hz, 0:01.5", 0), 0u) << ogg;
#if KESTRIX_HAVE_SOUND
  EXPECT_EQ(ogg, VorbisCaption(dir_.File("tone.ogg")));
  for (int row : {0, 1}) {
    Preview(row);
    QPushButton* play = form().SoundPreview->PlayButton();
    ASSERT_NE(play, nullptr);
    EXPECT_TRUE(play->isEnabled()) << row;
    // Pressing it decodes off the window's thread; without a sound output the view says so.
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !form().SoundPreview->Status()->text().startsWith("Decoding"); }));
    const QString status = form().SoundPreview->Status()->text();
    EXPECT_TRUE(status == "Playing." || status == "There is no sound output on this system.")
        << row << ": " << S(status);
  }
#endif
  Preview(2);
  EXPECT_FALSE(form().SoundPreview->isVisible());
  EXPECT_FALSE(form().SoundPreview->Playing());
}

// Whether the window's event loop handled events while the preview of `row` was being made:
// an event posted right after the selection (as a key press would be) must be handled before
// the preview is done, and the loop must keep turning until it is.
struct Responsiveness {
  bool handled_before_done = false;
  int turns = 0;
  qint64 total = 0;
};
Responsiveness Measure(TForm1& form, int row, const std::function<bool()>& done) {
  Responsiveness r;
  QElapsedTimer clock;
  clock.start();
  QObject probe;
  form.ListView1->selectRow(row);
  QTimer::singleShot(0, &probe, [&] { r.handled_before_done = !done(); });
  while (!done() && clock.elapsed() < 120000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ++r.turns;
  }
  r.total = clock.elapsed();
  return r;
}

TEST_F(PreviewKindsTest, LargeMeshAndTexturePreviewsLeaveTheWindowResponsive) {
  // A 100,489-vertex wavy sheet, and a 4096x4096 DXT1 texture of noise.
  constexpr int kSide = 317;
  testing::MeshSpec mesh = testing::OneTriangleMesh(2019);
  mesh.engine = "2019.4.1f1";
  mesh.vertices.clear();
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const float h = 0.1f * std::sin(x * 0.1f) * std::cos(y * 0.07f);
      mesh.vertices.push_back({x / 316.0f, y / 316.0f, h, 0, 0, -1, 0, 0});
    }
  for (uint32_t y = 0; y + 1 < kSide; ++y)
    for (uint32_t x = 0; x + 1 < kSide; ++x) {
      const uint32_t a = y * kSide + x;
      mesh.indices32.insert(mesh.indices32.end(),
                            {a, a + 1, a + kSide, a + 1, a + kSide + 1, a + kSide});
    }
  mesh.sub_meshes[0].index_count = static_cast<uint32_t>(mesh.indices32.size());
  mesh.sub_meshes[0].vertex_count = static_cast<uint32_t>(mesh.vertices.size());
  testing::TextureSpec texture;
  texture.width = texture.height = 4096;
  texture.format = 10, texture.mip = 1;
  texture.engine = "2019.4.1f1";
  texture.images.resize(4096 * 4096 / 2);
  uint32_t seed = 1;
  for (uint8_t& b : texture.images)
    b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  AssetSpec desc;
  desc.unity_version = "2019.4.1f1";
  desc.objects = {{kClassMesh, NamedObject("Sheet", testing::BuildMeshPayload(mesh))},
                  {28, testing::TextureObject("Noise", texture)}};
  const std::string path = dir_.File("large.assets");
  testing::WriteFileBytes(path, testing::BuildAssetFile(desc));
  form().OpenPath(path);
  ASSERT_EQ(form().model().rowCount(), 2);

  const Responsiveness for_mesh =
      Measure(form(), 0, [&] { return form().MeshPreview->PicturesShown() > 0; });
  EXPECT_EQ(S(form().PreviewCaption->text()), "Mesh, 100489 vertices, 199712 triangles");
  EXPECT_GT(CoveredPixels(form().MeshPreview->Picture()), 1000);
  const int shown = form().PreviewsShown();
  const Responsiveness for_texture =
      Measure(form(), 1, [&] { return form().PreviewsShown() > shown; });
  EXPECT_EQ(form().PreviewPicture->property("pictureSize").toSize(), QSize(4096, 4096));
  for (const Responsiveness& r : {for_mesh, for_texture}) EXPECT_TRUE(r.handled_before_done);
  std::printf("mesh preview %lld ms (%d turns of the event loop), texture %lld ms (%d turns)\n",
              static_cast<long long>(for_mesh.total), for_mesh.turns,
              static_cast<long long>(for_texture.total), for_texture.turns);
}

}  // namespace
}  // namespace kestrix
