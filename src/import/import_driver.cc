#include "import/import_driver.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <vector>

#include "core/error.h"
#include "core/frontend.h"
#include "core/localization.h"
#include "core/session.h"
#include "export/export_record.h"
#include "import/commit.h"
#include "import/import_plan.h"
#include "import/replacement_discovery.h"
#include "import/resource_edits.h"
#include "platform/archive_lock.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "platform/temporaries.h"

namespace kestrix {

namespace {

void CheckImportable(const Session& s) {
  if (s.Asset.RawSingleFile)
    throw Error("Cannot import into " + FileNameOf(s.Archive.ArchivePath) + ": it is a single " +
                s.Asset.ShownKind + " file, not an asset file with an object table.");
  // The folder name of a bundle carries a contained file's name, which comes from the archive.
  if (!IsContainedName(s.Archive.ArchiveFolderName))
    throw Error("Cannot import from the folder \"" + s.Archive.ArchiveFolderName +
                "\": the name leaves the output folder.");
  if (s.EntryCount() != s.Asset.Objects.size())
    throw Error("Cannot import: the entry table does not match the object table.");
}

// The raw files the run looks at. Without type words every file of the folder; with them each
// word lists the files whose extension it names ("114": those starting with "-"), and a raw
// file a converter wrote counts when a word names its source's extension too, so that
// `-t png` takes the pictures. A file named twice is still taken once: applying it twice would
// count its size change twice.
std::vector<std::string> Candidates(const std::string& folder, const ImportRequest& request,
                                    const std::vector<ConvertedSource>& converted) {
  std::vector<std::string> listed;
  if (!request.TypeFilterGiven) {
    ListCandidates(folder, "*", listed);
  } else {
    for (const std::string& word : request.TypeWords) {
      const std::string pattern = word == "114" ? "-*" : word;
      ListCandidates(folder, pattern, listed);
      for (const ConvertedSource& c : converted)
        if (MatchesCandidatePattern(FileNameOf(c.source_path), pattern))
          listed.push_back(c.raw_name);
    }
  }
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (std::string& name : listed)
    if (name != kExportRecordName && seen.insert(name).second) out.push_back(std::move(name));
  return out;
}

// Candidates the record does not list are not this archive's files: left out, said once. A raw
// file a converter has just written from a listed source is this archive's too.
std::vector<std::string> OnlyListed(const ExportRecord& record, const std::string& folder,
                                    std::vector<std::string> candidates,
                                    const std::vector<ConvertedSource>& converted,
                                    Frontend& frontend) {
  std::unordered_set<std::string> written;
  for (const ConvertedSource& c : converted) written.insert(c.raw_name);
  const size_t before = candidates.size();
  candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                  [&](const std::string& name) {
                                    return !written.count(name) &&
                                           !ListedInRecord(&record, folder, folder + name);
                                  }),
                   candidates.end());
  if (candidates.size() != before)
    frontend.Note(std::to_string(before - candidates.size()) + " files of " + folder +
                  " were left out: the export of " + record.Owner() + " did not write them.");
  return candidates;
}

// What the run knows of one candidate: the export record, the open working file, the folder.
struct TakeContext {
  const Session& s;
  const ExportRecord& record;
  FileSource& working;
  const std::string& folder;
  Frontend& frontend;
  ImportResult& result;
  // Entries whose new data goes into a resource entry: their raw files go in even when their
  // bytes are those export wrote (new data of the old length leaves the object as it was).
  std::set<size_t> writes_resource;
};

// An object the record notes with other bytes than it has now was changed in the archive after
// this folder was written: the file's edit and that change cannot both stand.
bool ChangedSinceExport(const TakeContext& t, size_t i) {
  const ContentHash* noted = t.record.Object(t.s.Object(i).PathId);
  if (!noted) return false;
  const uint64_t start = t.s.Asset.DataStart + t.s.EntryOffset(i);
  return start + t.s.EntrySize(i) <= t.working.Size() &&
         *noted != HashBytes(t.working, start, t.s.EntrySize(i));
}

// The replacements one candidate gives, after the record's word on it.
void TakeCandidate(const TakeContext& t, const std::string& name,
                   const std::vector<size_t>& entries, std::vector<Replacement>& out) {
  const std::string path = t.folder + name;
  bool unchanged = false;
  try {
    unchanged = UnchangedSinceExport(&t.record, t.folder, path);
  } catch (const Error&) {
    // A file the rule refuses is named by the check against its entry below.
  }
  if (unchanged && std::none_of(entries.begin(), entries.end(),
                                [&](size_t i) { return t.writes_resource.count(i) != 0; })) {
    ++t.result.unchanged;
    // Left out all the same: writing it would undo whatever changed the object since (another
    // folder's import, a new version of the game). Said, so that a user who restored the old
    // archive knows why the edit did not go in again.
    for (size_t i : entries)
      if (ChangedSinceExport(t, i))
        t.frontend.Note(
            path +
            " was left out: it still has the bytes this folder notes, and its "
            "object changed in the archive since. Edit or export it again to import it.");
    return;
  }
  for (size_t i : entries) {
    try {
      if (ChangedSinceExport(t, i))
        throw Error("Cannot import " + path + ": the object " + t.s.Entries.NameText(i) +
                    " changed in the archive after this folder was exported, and the file was "
                    "edited too (a conflict). Export the object again and redo the edit.");
      out.push_back(PrepareReplacement(t.s, i, path, t.working.Size()));
    } catch (const Error& e) {
      ++t.result.refused;
      t.frontend.ErrorBox(e.what());
    }
  }
}

std::vector<Replacement> TakeChanged(const TakeContext& t, const EntryNameIndex& names,
                                     const std::vector<std::string>& candidates) {
  std::vector<Replacement> taken;
  for (size_t c = 0; c < candidates.size(); ++c) {
    const std::vector<size_t>* entries = names.Find(candidates[c]);
    if (entries) TakeCandidate(t, candidates[c], *entries, taken);
    t.frontend.ShowProgress(static_cast<int>((c + 1) * 25 / candidates.size()));
    t.frontend.ProcessMessages();
    if (!entries) {
      ++t.result.not_found;
      t.frontend.MessageBox(Str(kStrFileNotFound) + candidates[c] + "\r\n" +
                            Str(kStrWillBeSkipped));
    }
  }
  return taken;
}

// One line per written object, in the order the objects were always written: those of
// unchanged size as listed, then the shrunk ones front to back, then the grown ones back to
// front.
void ListWritten(const Session& s, const ImportPlan& plan, Frontend& frontend) {
  std::vector<const Replacement*> same, shrunk, grown;
  for (const Replacement& rep : plan.replacements)
    (rep.change == 0 ? same : rep.change < 0 ? shrunk : grown).push_back(&rep);
  auto by_offset = [&](const Replacement* a, const Replacement* b) {
    return s.EntryOffset(a->entry) < s.EntryOffset(b->entry);
  };
  std::stable_sort(shrunk.begin(), shrunk.end(), by_offset);
  std::stable_sort(grown.begin(), grown.end(), by_offset);
  std::reverse(grown.begin(), grown.end());
  for (const auto* list : {&same, &shrunk, &grown})
    for (const Replacement* rep : *list) frontend.ConsoleLine(rep->path);
}

// The record notes what went in, so that importing the folder again changes nothing and another
// folder's copy of these objects is seen to be older.
void RecordImported(const Session& s, const ImportPlan& plan,
                    const std::vector<ConvertedSource>& converted, const std::string& folder,
                    ExportRecord& record, Frontend& frontend) {
  try {
    FileSource working(s.Archive.ArchivePath);
    for (const Replacement& rep : plan.replacements) {
      const int64_t id = s.Object(rep.entry).PathId;
      const std::string name(s.EntryName(rep.entry));
      record.NoteFile(name, id, HashFile(rep.path));
      for (const ConvertedSource& c : converted)
        if (c.raw_name == name && c.source_path.compare(0, folder.size(), folder) == 0)
          record.NoteFile(c.source_path.substr(folder.size()), id, HashFile(c.source_path));
      record.NoteObject(id, HashBytes(working, s.Asset.DataStart + s.EntryOffset(rep.entry),
                                      s.EntrySize(rep.entry)));
    }
    // The owner stays as export left it: a folder made by hand, without a record naming its
    // archive, keeps taking every file.
    record.Save(folder);
  } catch (const std::exception& e) {
    // The archive holds the edit; only the record could not follow.
    frontend.ErrorBox(std::string(e.what()) +
                      " The import went in, but the folder's export record was not updated.");
  }
}

}  // namespace

ImportResult ImportAll(Session& s, const ImportRequest& request, Frontend& frontend,
                       const ImportConverters& converters) {
  ImportResult result;
  CheckImportable(s);
  // The archive is held alone while it is written (the command line holds it so from before the
  // open), and it must still be the file this session read: an edit another run made since
  // would otherwise be written over.
  const ArchiveLock writing =
      HoldOpenedArchive(s.Archive, LockKind::kWrite, frontend, "import into", "import");
  RefuseReadOnlyArchive(s);
  const std::string folder = ExportFolder(s.Archive);
  // Left by runs that were killed: removed while this run holds the archive alone.
  RemoveAbandonedTemporaries(s.Archive.GivenPath, folder);

  ExportRecord record = ExportRecord::Load(folder);
  const std::string owner = RecordOwnerName(s.Archive);
  RefuseOthersFolder(record, owner, folder, "import from");
  FileSource working(s.Archive.ArchivePath);
  const EntryNameIndex names(s);
  // New data of objects whose data lives in a resource entry of the bundle goes back there.
  ResourceEdits edits(s.Archive);
  const std::vector<ConvertedSource> converted = RunConverters(
      s, names, working, converters, frontend, request.NoTextureFlip, &record, &edits);
  const std::vector<std::string> candidates =
      OnlyListed(record, folder, Candidates(folder, request, converted), converted, frontend);
  result.candidates = candidates.size();
  result.file_size = working.Size();
  if (candidates.empty()) return result;
  CommandsDisabled disabled(frontend);

  TakeContext take{s, record, working, folder, frontend, result, {}};
  for (const ResourceWrite& w : edits.Writes()) take.writes_resource.insert(w.entry);
  ImportPlan plan = PlanImport(s, working, TakeChanged(take, names, candidates), edits.Writes());
  if (PlanChangesNothing(plan)) {
    frontend.ShowProgress(100);
    return result;
  }
  const CommitResult commit = CommitImport(s, plan, working, frontend, request.StepDone);
  result.replaced = plan.replacements.size();
  result.in_place = commit.in_place;
  result.rebuilt = !commit.in_place;
  result.net_change = plan.net_change;
  result.file_size = plan.new_length;
  ListWritten(s, plan, frontend);
  RecordImported(s, plan, converted, folder, record, frontend);
  frontend.ShowProgress(100);
  return result;
}

}  // namespace kestrix
