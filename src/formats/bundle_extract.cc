#include "formats/bundle_extract.h"

#include "core/archive.h"
#include "core/error.h"
#include "core/frontend.h"
#include "formats/bundle_reader.h"
#include "formats/webdata_container.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

namespace kestrix {

int ExtractBundleFiles(const OpenedArchive& s, Frontend& frontend, const std::string& folder) {
  if (s.WebData.Present) return ExtractWebDataFiles(s, frontend, folder);
  const Container& b = s.Bundle;
  if (!IsHandledBundle(b.Signature, b.BundleVersion)) return 0;
  FileSource source(s.ArchivePath);
  // Level-table offsets count from the header size, block-bundle offsets from the block data.
  const uint64_t base = b.HasBlocks() ? b.BlockDataStart : b.V3.HeaderSize;
  int written = 0;
  for (const ContainedFile& f : b.ContainedFiles) {
    if (!IsContainedName(f.Name)) {
      frontend.MessageBox("Skipped the contained file \"" + f.StoredName +
                          "\": its name leads outside the folder " + folder);
      continue;
    }
    if (base > source.Size() || f.Offset > source.Size() - base ||
        f.Size > source.Size() - base - f.Offset)
      throw Error("The contained file \"" + f.StoredName + "\" reaches past the end of " +
                  s.ArchivePath + ".");
    std::string target = folder + f.Name;
    try {
      CreateFoldersBelow(folder, FolderOf(target));
      OutputFile out(target);
      out.CopyFrom(source, base + f.Offset, f.Size);
      out.Close();
    } catch (const RefusedFile& e) {
      // Something planted in the output folder; the other contained files still go out.
      frontend.MessageBox(std::string("Skipped the contained file \"") + f.StoredName +
                          "\": " + e.what());
      continue;
    }
    ++written;
    frontend.ConsoleLine("Export archive: " + folder + f.Name);
  }
  return written;
}

}  // namespace kestrix
