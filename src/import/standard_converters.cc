#include "import/standard_converters.h"

#include "formats/bundle_repack.h"
#include "formats/split_pieces.h"
#include "import/audio_import.h"
#include "import/texture_import.h"

namespace kestrix {

ImportConverters StandardImportConverters() {
  ImportConverters c = TextureImportConverters();
  c.audio = ImportAudio;
  return c;
}

void WriteBackContainer(OpenedArchive& archive, int64_t net_change, uint64_t old_asset_file_size,
                        const std::string& rebuilt_path) {
  RepackOptions options;
  options.RebuiltPath = rebuilt_path;
  RepackBundle(archive, net_change, old_asset_file_size, options);
  // The pieces are cut from the working file once it is in place.
  if (rebuilt_path.empty()) ResplitPieces(archive);
}

}  // namespace kestrix
