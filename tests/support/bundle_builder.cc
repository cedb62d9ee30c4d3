#include "support/bundle_builder.h"

#include <lz4.h>
#include <lz4hc.h>
#include <lzma.h>

#include <algorithm>
#include <stdexcept>

namespace kestrix::testing {

namespace {

void Put32At(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void Put64At(Bytes& b, size_t at, uint64_t v) {
  Put32At(b, at, static_cast<uint32_t>(v >> 32));
  Put32At(b, at + 4, static_cast<uint32_t>(v));
}

Bytes Lz4Encode(const Bytes& data, bool hc) {
  Bytes out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(data.size()))));
  const char* src = reinterpret_cast<const char*>(data.data());
  char* dst = reinterpret_cast<char*>(out.data());
  int n =
      hc ? LZ4_compress_HC(src, dst, static_cast<int>(data.size()), static_cast<int>(out.size()), 9)
         : LZ4_compress_default(src, dst, static_cast<int>(data.size()),
                                static_cast<int>(out.size()));
  if (n <= 0) throw std::runtime_error("LZ4 compression failed");
  out.resize(static_cast<size_t>(n));
  return out;
}

// The version 3 data: contained-file table, then the files at 4-aligned offsets.
Bytes Version3Data(const std::vector<BundleEntry>& files, std::vector<uint64_t>& offsets) {
  size_t table = 4;
  for (const BundleEntry& f : files) table += f.name.size() + 1 + 8;
  ByteWriter w(true);
  w.U32(static_cast<uint32_t>(files.size()));
  uint64_t at = (table + 3) & ~size_t{3};
  offsets.clear();
  for (const BundleEntry& f : files) {
    w.CText(f.name).U32(static_cast<uint32_t>(at)).U32(static_cast<uint32_t>(f.data.size()));
    offsets.push_back(at);
    at = (at + f.data.size() + 3) & ~uint64_t{3};
  }
  for (const BundleEntry& f : files) w.Align(4).Raw(f.data);
  return w.Take();
}

// The version 6 block and directory information.
Bytes Version6Info(const std::vector<uint32_t>& plain, const std::vector<uint32_t>& packed,
                   const std::vector<uint16_t>& flags, const std::vector<BundleEntry>& files,
                   const std::vector<uint64_t>& offsets) {
  ByteWriter w(true);
  for (int i = 0; i < 16; ++i) w.U8(static_cast<uint8_t>(0xA0 + i));
  w.U32(static_cast<uint32_t>(plain.size()));
  for (size_t i = 0; i < plain.size(); ++i) w.U32(plain[i]).U32(packed[i]).U16(flags[i]);
  w.U32(static_cast<uint32_t>(files.size()));
  for (size_t i = 0; i < files.size(); ++i)
    w.U64(offsets[i]).U64(files[i].data.size()).U32(files[i].flags).CText(files[i].name);
  return w.Take();
}

}  // namespace

Bytes LzmaEncodeRaw(const Bytes& data, uint32_t dictionary, bool end_marker, uint8_t props[5]) {
  lzma_options_lzma opt{};
  lzma_lzma_preset(&opt, 1);  // fixtures need speed, not ratio
  opt.dict_size = dictionary;
  opt.lc = 3;
  opt.lp = 0;
  opt.pb = 2;
  opt.ext_flags = 0;
  lzma_filter filters[2] = {{end_marker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &opt},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&s, filters) != LZMA_OK) throw std::runtime_error("LZMA encoder refused");
  Bytes out(data.size() + data.size() / 2 + 1024);
  s.next_in = data.data();
  s.avail_in = data.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  lzma_ret ret;
  do {
    ret = lzma_code(&s, LZMA_FINISH);
    if (ret == LZMA_OK && s.avail_out == 0) {
      size_t used = out.size();
      out.resize(used * 2);
      s.next_out = out.data() + used;
      s.avail_out = out.size() - used;
    }
  } while (ret == LZMA_OK);
  if (ret != LZMA_STREAM_END) throw std::runtime_error("LZMA encoding failed");
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  props[0] = static_cast<uint8_t>((opt.pb * 5 + opt.lp) * 9 + opt.lc);
  for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<uint8_t>(dictionary >> (8 * i));
  return out;
}

BuiltBundle BuildBundleV3(const BundleV3Spec& desc) {
  BuiltBundle built;
  Bytes data = Version3Data(desc.files, built.offsets);
  const bool lzma = desc.lzma && desc.signature != "UnityRaw";
  Bytes stream = data;
  if (lzma) {
    uint8_t props[5];
    Bytes coded = LzmaEncodeRaw(data, desc.dictionary, desc.end_marker, props);
    ByteWriter w;
    w.Raw(props, 5).U64(data.size()).Raw(coded);
    stream = w.Take();
  }
  const int levels = std::max(desc.levels, 1);
  ByteWriter h(true);
  h.CText(desc.signature).U32(desc.version).CText(desc.player_version).CText(desc.engine_version);
  if (desc.version >= 4) {
    for (int i = 0; i < 16; ++i) h.U8(static_cast<uint8_t>(0x30 + i));  // hash
    h.U32(0x12345678);                                                  // CRC
  }
  const size_t file_size_pos = h.Size();
  h.U32(0).U32(0).U32(static_cast<uint32_t>(levels)).U32(static_cast<uint32_t>(levels));
  const size_t first_level = h.Size();
  for (int i = 0; i < levels; ++i) {
    uint32_t plain = static_cast<uint32_t>(data.size() * (i + 1) / levels);
    uint32_t packed = static_cast<uint32_t>(stream.size() * (i + 1) / levels);
    if (i + 1 < levels && desc.first_levels_differ)
      packed = plain / 2 + 1;
    else if (!lzma)
      packed = plain;
    h.U32(packed).U32(plain);
  }
  // The complete-file size (version 2 on) and the file-info header size (version 3 on).
  const size_t complete_pos = h.Size();
  if (desc.version >= 2) h.U32(0);
  if (desc.version >= 3) h.U32(static_cast<uint32_t>(4 + desc.files.size() * 8));
  h.Align(4);
  Bytes header = h.Take();
  const uint32_t header_size = static_cast<uint32_t>(header.size());
  Put32At(header, file_size_pos + 4, header_size);
  built.data_start = header_size;

  Bytes file = header;
  file.insert(file.end(), stream.begin(), stream.end());
  Put32At(file, file_size_pos, static_cast<uint32_t>(file.size()));
  if (desc.version >= 2) Put32At(file, complete_pos, static_cast<uint32_t>(file.size()));
  built.bytes = file;
  if (lzma) {
    Bytes temp = header;
    temp.insert(temp.end(), data.begin(), data.end());
    const uint32_t length = static_cast<uint32_t>(temp.size());
    Put32At(temp, file_size_pos, length);
    Put32At(temp, first_level + 8 * (levels - 1), static_cast<uint32_t>(data.size()));
    Put32At(temp, first_level + 8 * (levels - 1) + 4, static_cast<uint32_t>(data.size()));
    // The other level records stay as the bundle had them.
    for (int i = 0; i + 1 < levels; ++i)
      for (int k = 0; k < 8; ++k) temp[first_level + 8 * i + k] = file[first_level + 8 * i + k];
    if (desc.version >= 2) Put32At(temp, complete_pos, length);
    built.unpacked = temp;
  }
  return built;
}

BuiltBundle BuildBundleV6(const BundleV6Spec& desc) {
  BuiltBundle built;
  Bytes data;
  for (const BundleEntry& f : desc.files) {
    built.offsets.push_back(data.size());
    data.insert(data.end(), f.data.begin(), f.data.end());
  }
  // Blocks.
  std::vector<uint32_t> plain, packed;
  std::vector<uint16_t> flags;
  Bytes blocks;
  const size_t step = desc.block_size == 0 ? std::max<size_t>(data.size(), 1) : desc.block_size;
  for (size_t at = 0; at < data.size() || (at == 0 && data.empty()); at += step) {
    Bytes chunk(data.begin() + static_cast<long>(at),
                data.begin() + static_cast<long>(std::min(data.size(), at + step)));
    Bytes coded;
    uint16_t f = 0x40;
    switch (desc.codec) {
      case BlockCodec::kStored:
        coded = chunk;
        break;
      case BlockCodec::kLz4:
        coded = Lz4Encode(chunk, false);
        f = 2;
        break;
      case BlockCodec::kLz4Hc:
        coded = Lz4Encode(chunk, true);
        f = 3;
        break;
      case BlockCodec::kLzma: {
        uint8_t props[5];
        Bytes raw = LzmaEncodeRaw(chunk, 1u << 16, desc.end_marker, props);
        coded.assign(props, props + 5);
        coded.insert(coded.end(), raw.begin(), raw.end());
        f = 0x41;
        break;
      }
    }
    if (desc.block_flags >= 0) f = static_cast<uint16_t>(desc.block_flags);
    plain.push_back(static_cast<uint32_t>(chunk.size()));
    packed.push_back(static_cast<uint32_t>(coded.size()));
    flags.push_back(f);
    blocks.insert(blocks.end(), coded.begin(), coded.end());
    if (data.empty()) break;
  }
  const Bytes info = Version6Info(plain, packed, flags, desc.files, built.offsets);
  const bool v7 = desc.version >= 7;
  const uint8_t low = static_cast<uint8_t>(desc.flags);
  const uint32_t info_coding = v7 ? desc.flags & 0x3F : (low == 0x42 || low == 0x43 ? 3 : 0);
  const bool info_at_end = v7 ? (desc.flags & 0x80) != 0 : low == 0xC0;
  const bool padded = v7 && (desc.flags & 0x200) != 0;
  Bytes stored_info = info;
  if (info_coding == 2 || info_coding == 3) {
    stored_info = Lz4Encode(info, v7 ? info_coding == 3 : low == 0x43);
  } else if (info_coding == 1) {
    uint8_t props[5];
    Bytes raw = LzmaEncodeRaw(info, 1u << 16, false, props);
    stored_info.assign(props, props + 5);
    stored_info.insert(stored_info.end(), raw.begin(), raw.end());
  }

  ByteWriter h(true);
  h.CText(desc.signature).U32(desc.version).CText(desc.player_version).CText(desc.engine_version);
  const size_t total_pos = h.Size();
  h.U64(0).U32(static_cast<uint32_t>(stored_info.size())).U32(static_cast<uint32_t>(info.size()));
  h.U32(desc.flags);
  if (v7)
    h.Align(16);
  else
    h.Zeros((desc.flags >> 8) & 0xFF);
  const Bytes header = h.Take();
  auto pad = [padded](Bytes& b) {
    if (padded) b.resize((b.size() + 15) & ~size_t{15}, 0);
  };

  Bytes file = header;
  if (!info_at_end) file.insert(file.end(), stored_info.begin(), stored_info.end());
  pad(file);
  const uint64_t data_start = file.size();
  file.insert(file.end(), blocks.begin(), blocks.end());
  if (info_at_end) file.insert(file.end(), stored_info.begin(), stored_info.end());
  Put64At(file, total_pos, file.size());
  built.bytes = file;

  const bool unpack = std::any_of(flags.begin(), flags.end(), [v7](uint16_t f) {
    return v7 ? (f & 0x3F) != 0 : (f & 0xFF) != 0 && (f & 0xFF) != 0x40;
  });
  if (!(info_coding != 0 || info_at_end || unpack)) {
    built.data_start = data_start;
    return built;
  }
  // One stored block holding all data; names as stored; the flags' low byte 0x40 when the info
  // was not stored after the header as it stands.
  const uint32_t length = static_cast<uint32_t>(data.size());
  const Bytes one = Version6Info({length}, {length}, {0x40}, desc.files, built.offsets);
  Bytes temp = header;
  temp.insert(temp.end(), one.begin(), one.end());
  pad(temp);
  built.data_start = temp.size();
  temp.insert(temp.end(), data.begin(), data.end());
  Put64At(temp, total_pos, temp.size());
  Put32At(temp, total_pos + 8, static_cast<uint32_t>(one.size()));
  Put32At(temp, total_pos + 12, static_cast<uint32_t>(one.size()));
  if (v7) {
    // The flags stay but for the compression and the place of the info.
    Put32At(temp, total_pos + 16, desc.flags & ~uint32_t{0xBF});
  } else if (info_coding != 0 || info_at_end) {
    temp[total_pos + 19] = 0x40;
  }
  built.unpacked = temp;
  return built;
}

int WriteSplitPieces(const std::string& base, const Bytes& bytes, size_t piece_size) {
  int count = 0;
  for (size_t at = 0; at < bytes.size(); at += piece_size, ++count) {
    Bytes piece(bytes.begin() + static_cast<long>(at),
                bytes.begin() + static_cast<long>(std::min(bytes.size(), at + piece_size)));
    WriteFileBytes(base + ".split" + std::to_string(count), piece);
  }
  return count;
}

}  // namespace kestrix::testing
