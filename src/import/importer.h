// What every importer of the import tree is given. An importer turns one edited source file
// (a DDS, KTX, PVR or CRN texture, a sound) back into the raw object file of the entry it came
// from, written to output_root + relative_path, where the import driver's candidate listing
// finds it. Importers only read the archive; nothing is written into it before every source
// file has been turned into its raw file and checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/field_layout.h"
#include "platform/safe_files.h"

namespace kestrix {

class ByteSource;
class Frontend;
class ExportRecord;
class ObjectTrees;
class ResourceEdits;
struct Session;

struct ImporterCall {
  ByteSource& working;         // the working file (the stream at ArchivePath), read only
  uint64_t payload_start = 0;  // the entry's payload start in the working file
  uint32_t payload_size = 0;   // object size - header skip: the entry's payload as it stands
  bool big_endian = false;
  std::string output_root;           // OutputRoot, ends in a separator
  std::string source_path;           // the found source file, full path
  std::string relative_path;         // "Unity_Assets_Files/<ArchiveFolderName>/<EntryName>"
  int32_t entry_texture_format = 0;  // the entry's current texture format code (textures)
  // Textures of engines read field by field: the payload's fields; empty for the fixed layouts.
  FieldLayout texture_fields = {};
  EngineVersion engine = {};  // the asset's engine version
  // The export folder the source was found in: every file read for this call must lie inside
  // it (ReadSourceFile). Empty: the source's own folder.
  std::string source_folder = {};
  // The open archive and the entry, for importers that rebuild the whole object through its
  // layout (JSON) rather than its payload alone.
  const Session* session = nullptr;
  size_t entry = 0;  // the entry's index
};

// A file read for `call` (its source, or a later face beside it), opened by the rule for files
// of export folders (platform/safe_files.h): a link leading out of the folder, a pipe or a
// device is refused with RefusedFile, "Cannot import <path>: <reason>.", and never read.
OpenedFile OpenSourceFile(const ImporterCall& call, const std::string& path);
std::vector<uint8_t> ReadSourceFile(const ImporterCall& call, const std::string& path);

// How importers reach the user and the files beside the archive.
struct ImporterContext {
  Frontend& frontend;
  std::string resource_folder;  // where resource files lie: beside the archive
  // NoTextureFlip of the run: files exported without the vertical flip come back without it.
  bool no_texture_flip = false;
  // What export wrote into the folder, when it left a record: sources it notes unchanged are
  // not converted again.
  const ExportRecord* record = nullptr;
  // Where data that lives in a resource entry of the open bundle goes; null: such data goes into
  // the object as data beside the archive does.
  ResourceEdits* resource_edits = nullptr;
  // The object walkers of the run, so that each type tree is taken apart once however many of
  // its objects come back as JSON; null: each call takes its own apart.
  ObjectTrees* object_trees = nullptr;
};

// One importer: reads the source file, builds the raw object file, writes it. Throws Error
// (malformed source, unreadable file) to end the import; reports a source it skips (for example
// "Format dds not supported!") through the frontend and returns without writing.
using Importer = void (*)(const ImporterCall& call, ImporterContext& ctx);

// Audio clips also name the archive's folder in the output tree and the working file's
// resource name (the working file's name followed by ".resS").
using AudioImporter = void (*)(const ImporterCall& call, ImporterContext& ctx,
                               const std::string& archive_folder_name,
                               const std::string& resource_name);

// The importers an import runs, one per converter run.
struct ImportConverters {
  Importer dds = nullptr;         // Textures/ and Cubemap/, "dds"
  Importer crn = nullptr;         // Textures/, "crn"
  Importer ktx = nullptr;         // Textures/, "ktx"
  Importer pvr = nullptr;         // Textures/, "pvr"
  Importer png = nullptr;         // Textures/ and Cubemap/, "png"
  Importer procedural = nullptr;  // ProceduralTextures/, "dds"
  AudioImporter audio = nullptr;  // Sounds/, any extension
  Importer json = nullptr;        // Json/, "json": any object with a known layout
};

}  // namespace kestrix
