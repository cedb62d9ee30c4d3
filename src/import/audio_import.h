// Puts an edited sound back behind an AudioClip entry. The sound file's bytes become the clip's
// sound as they are, whatever their container; the clip keeps the shape its payload has now
// (the three shapes export reads, export/audio_clip.h).
#pragma once

#include <string>

#include "import/importer.h"

namespace kestrix {

// The audio importer (an AudioImporter, import/importer.h). An embedded clip gets the sound in
// its rebuilt payload. A streamed clip (legacy 24-byte record or resource record) gets the sound
// appended to its resource file, flushed to the disk, and its payload points there: bytes the
// current archive points at are never overwritten, so the old archive stays valid until the new
// one replaces it. Every such import grows the resource file by the sound's length.
//
// The raw object file (output_root + relative_path) is written whole or not at all. A resource
// path that would leave its folder, a missing resource file and a payload of no known shape are
// reported through the frontend and write nothing; a sound too large for the clip's size fields,
// a malformed payload and file errors throw Error or IoError before the raw file is written.
void ImportAudio(const ImporterCall& call, ImporterContext& ctx,
                 const std::string& archive_folder_name, const std::string& resource_name);

}  // namespace kestrix
