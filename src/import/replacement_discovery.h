// Finding the files an import takes back: the converted sources in the export folder's
// subfolders, which the importers turn into raw object files, and the raw object files in the
// export folder itself. Each folder's names are taken in byte order, so that when several
// sources lead to one entry the same one wins on every run and every file system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/importer.h"
#include "platform/safe_files.h"

namespace kestrix {

struct Session;
class ByteSource;
class Frontend;
class ExportRecord;

// Opens `path`, a file of the export folder `folder`, by the rule for files Kestrix did not make
// (OpenInsideFolder); a refusal is a RefusedFile saying "Cannot import <path>: <reason>.".
OpenedFile OpenImportFile(const std::string& folder, const std::string& path);

// Appends the full paths of the files below `folder` (which ends in a separator) whose
// extension, ASCII-lower-cased, is "." + `extension`; an empty extension takes every file.
// Depth first: a subfolder's files come at the subfolder's place in its folder's order. Folders
// reached through symbolic links are not entered, so a link loop cannot make the walk endless.
void FindFilesRecursive(const std::string& folder, const std::string& extension,
                        std::vector<std::string>& list);

// The wildcard rule of the candidate listing: "*" takes every name; any other pattern is
// matched (with "*" and "?", ASCII letters folded) against the name's extension, the part after
// its last ".", so "tex" takes "Hero.tex" and "-*" takes "Mover.-3". A name without "." has no
// extension and only "*" takes it.
bool MatchesCandidatePattern(const std::string& name, const std::string& pattern);

// Appends the names (without folder) of the files directly in `folder` that match `pattern`, in
// byte order. Everything that is not a folder counts, so that a raw file which cannot be read
// is reported by the import rather than passed over.
void ListCandidates(const std::string& folder, const std::string& pattern,
                    std::vector<std::string>& candidates);

// Entry names to entry indexes in table order: every entry of a name, first entry first.
class EntryNameIndex {
 public:
  explicit EntryNameIndex(const Session& session);
  // The entries named exactly `name` (bytes compared, case kept), in table order.
  const std::vector<size_t>* Find(std::string_view name) const;
  // The first entry in table order named `name`, or -1.
  long long First(std::string_view name) const;

 private:
  std::unordered_map<std::string_view, std::vector<size_t>> index_;
};

// Whether the file at `path` below the export folder `folder` still has the bytes the export
// record notes for it: the file as export (or the last import) left it, which taking again would
// only bring an old state back. False without a record or a note of the file. Throws
// RefusedFile for a file the rule for files Kestrix did not make refuses.
bool UnchangedSinceExport(const ExportRecord* record, const std::string& folder,
                          const std::string& path);

// False for a file below `folder` that a record naming its archive does not list: the folder
// is that archive's alone, so such a file is not from its export (another archive's leftover,
// a stray copy) and import leaves it out. Records of older Kestrix name no archive and list
// every file as before.
bool ListedInRecord(const ExportRecord* record, const std::string& folder,
                    const std::string& path);

// A source file a converter turned into the raw file `raw_name` of the export folder.
struct ConvertedSource {
  std::string source_path;
  std::string raw_name;
};

// One converter run: every file below export folder + `subfolder` with the extension is matched
// by its name without the last extension against the entry names; each match goes to the
// importer (a texture importer, or with `audio` set the audio importer), reading the entry's
// payload from `working` as it stands. Files that match no entry are passed over silently, and
// so are files the export record (ctx.record) notes with the bytes they still have. Each raw
// file an importer wrote is appended to `converted`.
void RunConverter(const Session& session, const EntryNameIndex& names, ByteSource& working,
                  const std::string& subfolder, const std::string& extension, Importer importer,
                  AudioImporter audio, ImporterContext& ctx,
                  std::vector<ConvertedSource>* converted = nullptr);

// The runs an import starts before anything else, in their order: Textures (DDS, CRN, KTX, PVR,
// PNG), Cubemap (DDS, PNG), ProceduralTextures (DDS), Sounds (any file), Json (JSON). A run
// whose subfolder does not exist or whose importer is not given is left out. Returns the raw
// files written, in the order they were written (a raw file written twice appears twice). New
// data of resource entries of the bundle goes to `edits` when given.
std::vector<ConvertedSource> RunConverters(const Session& session, const EntryNameIndex& names,
                                           ByteSource& working, const ImportConverters& converters,
                                           Frontend& frontend, bool no_texture_flip = false,
                                           const ExportRecord* record = nullptr,
                                           ResourceEdits* edits = nullptr);

}  // namespace kestrix
