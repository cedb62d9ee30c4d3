// Repacks a bundle as an import's write-back does, for the repack benchmark:
//   repack <bundle> <data out> [blocks]
// Opens the bundle (unpacking it into its ".TEMP" file), writes the block data of that working
// file to <data out> for the reference compressors, then rewrites the bundle with no size change
// and prints the seconds RepackBundle took and where the data starts in the working file; with
// "blocks", also the block count and the largest block of the bundle as it was opened (version
// 6). The process's peak memory covers open and repack.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/archive.h"
#include "core/frontend.h"
#include "formats/archive_open.h"
#include "formats/bundle_repack.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"

namespace {

class QuietFrontend : public kestrix::Frontend {
 public:
  void Note(const std::string&) override {}
  void ShowProgress(int) override {}
  void MessageBox(const std::string&) override {}
  void ErrorBox(const std::string&) override {}
  void ConsoleLine(const std::string&) override {}
  void EnableCommands(bool) override {}
  void FillChooser(const std::vector<std::string>&, int) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "blocks")) {
    std::fprintf(stderr, "usage: repack <bundle> <data out> [blocks]\n");
    return 2;
  }
  try {
    kestrix::OpenedArchive archive;
    QuietFrontend frontend;
    kestrix::OpenContainer(archive, frontend, argv[1]);
    const uint64_t start = archive.Bundle.BundleVersion == 3 ? archive.Bundle.V3.HeaderSize
                                                             : archive.Bundle.BlockDataStart;
    {
      kestrix::FileSource working(archive.ArchivePath);
      kestrix::OutputFile out(argv[2]);
      out.CopyFrom(working, start, working.Size() - start);
      out.Close();
    }
    // The blocks as the archive stored them (before the open unpacked them).
    const std::vector<kestrix::BundleBlock>& blocks = archive.Bundle.V6.ArchiveBlocks.empty()
                                                          ? archive.Bundle.V6.Blocks
                                                          : archive.Bundle.V6.ArchiveBlocks;
    uint32_t largest = 0;
    for (const kestrix::BundleBlock& b : blocks) largest = std::max(largest, b.UncompressedSize);
    const size_t count = blocks.size();
    const auto begin = std::chrono::steady_clock::now();
    kestrix::RepackBundle(archive, 0, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::printf("%.3f %llu", took.count(), static_cast<unsigned long long>(start));
    if (argc == 4) std::printf(" %zu %u", count, largest);
    std::printf("\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
