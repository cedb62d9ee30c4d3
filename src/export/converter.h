// What every converter of the export tree is given, and the converters themselves. The export
// driver positions the stream at the payload start before each call; a converter reads
// payload_size bytes from there, builds its output path as base_folder + relative_folder (+ a
// resource subfolder) + file name, creates missing folders and overwrites existing files.
#pragma once

#include <cstdint>
#include <string>

#include "core/field_layout.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/requests.h"

namespace kestrix {

struct Session;
class Reader;

struct ConverterCall {
  Reader& stream;  // at the payload start; byte order not yet set
  uint32_t payload_size = 0;
  bool big_endian = false;
  std::string base_folder;      // OutputRoot, ends in a separator
  std::string relative_folder;  // "Unity_Assets_Files/<archive name>/<subfolder>/"
  std::string file_name;        // the entry's EntryName
  // Textures of engines read field by field: the payload's fields (types/object_layouts.h);
  // nullptr or empty for the fixed layouts.
  const FieldLayout* texture_fields = nullptr;
  // The object's type tree when the file carries one (meshes read their layout from it).
  const TypeTree* type_tree = nullptr;
};

// A resource file that is not there, or whose path is refused.
class MissingResourceError : public Error {
 public:
  explicit MissingResourceError(const std::string& text) : Error(text, ErrorKind::kFileSystem) {}
};

// How converters reach the user, the open archive and what the run asks for.
class ConverterContext {
 public:
  ConverterContext(const Session& session, const ExportRequest& request, Frontend& frontend)
      : session_(session), request_(request), frontend_(frontend) {}
  const Session& session() const { return session_; }
  const ExportRequest& request() const { return request_; }
  Frontend& frontend() { return frontend_; }
  // A converter's note ("Not supported ..."); the frontend decides how it is shown.
  void Report(const std::string& text) { frontend_.Note(text); }
  // A completion line such as "Hero.tex -> DDS".
  void Done(const std::string& text) { frontend_.ConsoleLine(text); }
  // A resource file that is missing, or whose path is refused, fails the entry like any other
  // failure: thrown, so that the run counts it.
  [[noreturn]] void MissingResource(const std::string& text) const;
  // Where resource files are looked for: beside the archive, so that an output folder given
  // with -p does not hide them. Without an open archive (tests) the base folder stands in.
  std::string ResourceFolder(const std::string& base_folder) const;

 private:
  const Session& session_;
  const ExportRequest& request_;
  Frontend& frontend_;
};

// Textures (Texture2D, Cubemap) and procedural textures.
void ExportDds(const ConverterCall& call, ConverterContext& ctx);
void ExportProceduralDds(const ConverterCall& call, ConverterContext& ctx);
void ExportKtx(const ConverterCall& call, ConverterContext& ctx);
void ExportPvr(const ConverterCall& call, ConverterContext& ctx);
void ExportCrn(const ConverterCall& call, ConverterContext& ctx);
// The top level as a PNG picture (export/png_export.cc).
void ExportPng(const ConverterCall& call, ConverterContext& ctx);
// Audio clips: archive_name is the session's ArchiveFolderName, resource_name the file name of
// ArchivePath followed by ".resS".
void ExportAudio(const ConverterCall& call, ConverterContext& ctx, const std::string& archive_name,
                 const std::string& resource_name);
// Meshes, decoded for the engine major version and written as OBJ.
void ExportObj(const ConverterCall& call, ConverterContext& ctx, int32_t major_version);

}  // namespace kestrix
