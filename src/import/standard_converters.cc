#include "import/standard_converters.h"

#include "import/audio_import.h"
#include "import/json_import.h"
#include "import/texture_import.h"

namespace kestrix {

ImportConverters StandardImportConverters() {
  ImportConverters c = TextureImportConverters();
  c.audio = ImportAudio;
  c.json = ImportJson;
  return c;
}

}  // namespace kestrix
