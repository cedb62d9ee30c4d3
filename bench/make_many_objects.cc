// Writes a format-17 serialized file of many small named objects, for timing the naming pass
// and the list:  make_many_objects <path> [count] [extra]   (count defaults to 1,000,000)
// `extra` bytes of zeros end every object (0 by default): a few large objects make files of a
// gigabyte for timing import.
//
// The mix resembles a real level: materials, textures, text assets and meshes with names (some
// of them equal but for letter case, so the duplicate rule has work), script objects and game
// objects without. The file is written as it is generated; memory stays small.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Kind {
  int32_t class_id;
  bool named;
  uint32_t rest;  // bytes after the name
};

// Type index = position in this table.
const Kind kKinds[] = {
    {21, true, 24},    // Material
    {28, true, 40},    // Texture2D: the format sits 12 bytes after the name field
    {49, true, 16},    // TextAsset: a text length and a short text
    {43, true, 32},    // Mesh
    {1, false, 28},    // GameObject
    {114, false, 36},  // MonoBehaviour
};
constexpr int kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);

uint32_t g_extra = 0;
uint32_t Rest(const Kind& k) { return k.rest + g_extra; }

class Out {
 public:
  explicit Out(std::FILE* f) : f_(f) {}
  void Bytes(const void* p, size_t n) {
    if (std::fwrite(p, 1, n, f_) != n) {
      std::perror("write");
      std::exit(1);
    }
    pos_ += n;
  }
  void U8(uint8_t v) { Bytes(&v, 1); }
  void U16(uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    Bytes(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Bytes(b, 4);
  }
  void BE32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    Bytes(b, 4);
  }
  void U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
  }
  void Zeros(size_t n) {
    static const uint8_t z[64] = {};
    while (n) {
      size_t k = n < 64 ? n : 64;
      Bytes(z, k);
      n -= k;
    }
  }
  void AlignTo(size_t a) { Zeros((a - pos_ % a) % a); }
  uint64_t Pos() const { return pos_; }

 private:
  std::FILE* f_;
  uint64_t pos_ = 0;
};

uint32_t KindIndex(uint32_t i) { return (i * 7 + i / 3) % kKindCount; }

std::string NameOf(uint32_t i) {
  char buf[32];
  // Every 16th object repeats, in upper case, the name of an earlier object of its kind.
  uint32_t n = i;
  if (i % 16 == 15)
    for (uint32_t back = 1; back <= 12; ++back)
      if (KindIndex(i - back) == KindIndex(i)) {
        n = i - back;
        break;
      }
  std::snprintf(buf, sizeof(buf), n != i ? "OBJECT_%07u" : "object_%07u", n);
  return buf;
}

uint32_t NameField(const std::string& name) { return 4 + ((uint32_t(name.size()) + 3) & ~3u); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: make_many_objects <path> [count] [extra]\n");
    return 2;
  }
  const uint32_t count = argc >= 3 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 1000000u;
  if (argc == 4) g_extra = uint32_t(std::strtoul(argv[3], nullptr, 10)) & ~7u;
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> buffer(1 << 20);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());

  // Sizes first, so that the header can be written in one pass.
  auto kind_of = [](uint32_t i) -> const Kind& { return kKinds[KindIndex(i)]; };
  auto size_of = [&](uint32_t i) {
    const Kind& k = kind_of(i);
    return (k.named ? NameField(NameOf(i)) : 0) + Rest(k);
  };
  const std::string version = "5.6.3f1";
  uint64_t meta = 4 + 1 + 4;
  for (const Kind& k : kKinds) meta += 4 + 1 + 2 + (k.class_id == 114 ? 32 : 16);
  const uint64_t header = 20 + version.size() + 1;
  uint64_t table_start = header + meta + 4;
  table_start = (table_start + 3) & ~uint64_t{3};
  const uint64_t meta_end = table_start + uint64_t{count} * 20 + 8;
  const uint64_t data_offset = (meta_end + 15) & ~uint64_t{15};
  uint64_t data_size = 0;
  for (uint32_t i = 0; i < count; ++i) data_size = ((data_size + 7) & ~uint64_t{7}) + size_of(i);
  const uint64_t file_size = data_offset + data_size;
  if (file_size > 0xFFFFFFFFull) {
    std::fprintf(stderr, "too many objects for one file\n");
    return 1;
  }

  Out out(f);
  out.BE32(uint32_t(meta_end - 20));
  out.BE32(uint32_t(file_size));
  out.BE32(17);
  out.BE32(uint32_t(data_offset));
  out.U32(0);  // little-endian
  out.Bytes(version.c_str(), version.size() + 1);
  out.U32(7);  // platform
  out.U8(0);   // no type trees
  out.U32(kKindCount);
  for (const Kind& k : kKinds) {
    out.U32(uint32_t(k.class_id));
    out.U8(0);
    out.U16(k.class_id == 114 ? 0 : 0xFFFF);
    out.Zeros(k.class_id == 114 ? 32 : 16);
  }
  out.U32(count);
  out.AlignTo(4);
  uint64_t cursor = 0;
  for (uint32_t i = 0; i < count; ++i) {
    cursor = (cursor + 7) & ~uint64_t{7};
    out.U64(uint64_t{i} + 1);
    out.U32(uint32_t(cursor));
    out.U32(size_of(i));
    out.U32(KindIndex(i));
    cursor += size_of(i);
  }
  out.U32(0);  // script types
  out.U32(0);  // externals
  out.AlignTo(16);
  cursor = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = (cursor + 7) & ~uint64_t{7};
    out.Zeros(at - cursor);
    const Kind& k = kind_of(i);
    if (k.named) {
      const std::string name = NameOf(i);
      out.U32(uint32_t(name.size()));
      out.Bytes(name.data(), name.size());
      out.AlignTo(4);
    }
    if (k.class_id == 28) {
      out.U32(4);
      out.U32(4);
      out.U32(8);
      out.U32(i % 2 ? 10 : 12);  // DXT1 or DXT5
      out.Zeros(Rest(k) - 16);
    } else if (k.class_id == 49) {
      out.U32(8);
      out.Bytes("text....", 8);
      out.Zeros(Rest(k) - 12);
    } else {
      out.Zeros(Rest(k));
    }
    cursor = at + size_of(i);
  }
  if (out.Pos() != file_size) {
    std::fprintf(stderr, "internal size mismatch: %llu != %llu\n", (unsigned long long)out.Pos(),
                 (unsigned long long)file_size);
    return 1;
  }
  if (std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
