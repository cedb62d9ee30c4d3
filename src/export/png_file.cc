#include "export/png_file.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "core/error.h"
#include "platform/file_ops.h"

namespace kestrix {

namespace {

constexpr uint32_t kMaxSide = 16384;

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// The libpng part, kept free of objects with destructors because libpng leaves by longjmp.
// Returns false when libpng reported an error.
bool WriteRows(png_structp png, png_infop info, const RgbaImage* image, png_bytepp rows,
               std::vector<uint8_t>* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
               static_cast<png_uint_32>(image->height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Fast: the lowest zlib level and one cheap filter, which keeps most of the size gain.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const RgbaImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4)
    throw Error("A picture of " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                " pixels cannot be written as PNG.");
  std::vector<png_bytep> rows(static_cast<size_t>(image.height));
  for (int32_t y = 0; y < image.height; ++y)
    rows[static_cast<size_t>(y)] =
        const_cast<png_bytep>(image.pixels.data()) + static_cast<size_t>(y) * image.width * 4;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> out;
  out.reserve(image.pixels.size() / 2);
  const bool ok = info && WriteRows(png, info, &image, rows.data(), &out);
  png_destroy_write_struct(&png, &info);
  if (!ok) throw Error("The PNG encoder failed.", ErrorKind::kNotSupported);
  return out;
}

void WritePngFile(const std::string& path, const RgbaImage& image) {
  const std::vector<uint8_t> bytes = EncodePng(image);
  try {
    OutputFile out(path);
    out.Write(bytes);
    out.Close();
  } catch (...) {
    RemoveFileQuietly(path);
    throw;
  }
}

bool ReadPngSize(const std::vector<uint8_t>& head, PngSize* size) {
  static const uint8_t kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                     0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (head.size() < kPngSizeBytes || !std::equal(kStart, kStart + 16, head.begin())) return false;
  auto be = [&](size_t at) {
    return uint32_t{head[at]} << 24 | uint32_t{head[at + 1]} << 16 | uint32_t{head[at + 2]} << 8 |
           head[at + 3];
  };
  size->width = be(16);
  size->height = be(20);
  return true;
}

RgbaImage DecodePng(const std::vector<uint8_t>& file, const std::string& path) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, file.data(), file.size()))
    throw Error("File " + path + " is not a PNG picture that can be read: " + png.message);
  if (png.width == 0 || png.height == 0 || png.width > kMaxSide || png.height > kMaxSide) {
    png_image_free(&png);
    throw Error("File " + path + " holds a picture of " + std::to_string(png.width) + "x" +
                std::to_string(png.height) + " pixels, larger than a texture can be.");
  }
  png.format = PNG_FORMAT_RGBA;
  RgbaImage image;
  image.width = static_cast<int32_t>(png.width);
  image.height = static_cast<int32_t>(png.height);
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw Error("File " + path + " is a damaged PNG picture: " + message);
  }
  return image;
}

RgbaImage ReadPngFile(const std::string& path) { return DecodePng(ReadWholeFile(path), path); }

}  // namespace kestrix
