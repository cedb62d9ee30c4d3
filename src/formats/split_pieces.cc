#include "formats/split_pieces.h"

#include "platform/byte_source.h"
#include "platform/file_ops.h"

namespace kestrix {

int JoinSplitPieces(const std::string& base, const std::string& joined) {
  OutputFile out(joined);
  int count = 0;
  while (true) {
    std::string piece = base + ".split" + std::to_string(count);
    if (!FileExists(piece)) break;
    FileSource source(piece);
    out.CopyFrom(source, 0, source.Size());
    ++count;
  }
  out.Close();
  return count;
}

}  // namespace kestrix
