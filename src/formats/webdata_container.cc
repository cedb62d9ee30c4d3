#include "formats/webdata_container.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/requests.h"
#include "formats/asset_reader.h"
#include "formats/bundle_extract.h"
#include "formats/bundle_reader.h"
#include "formats/bundle_repack.h"
#include "formats/stream_wrappers.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/safe_files.h"
#include "types/class_ids.h"

namespace kestrix {

namespace {

constexpr size_t kSignatureBytes = 16;  // the signature and its zero byte
// An entry record: offset, size and name length (32 bits each), then the name.
constexpr uint64_t kEntryRecord = 12;
// Probes look at the start of a file only: a stream that gives nothing useful from its first
// bytes is not a web data file, however long it is.
constexpr uint64_t kProbeBytes = 64 * 1024;

[[noreturn]] void Malformed(const std::string& what) {
  throw Error("Malformed web data file: " + what);
}

// A range of another source, read as a source of its own.
class SliceSource : public ByteSource {
 public:
  SliceSource(ByteSource& base, uint64_t pos, uint64_t size) : base_(base), pos_(pos), size_(size) {}
  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t pos, void* dst, size_t n) override {
    if (pos > size_ || n > size_ - pos)
      throw Error("Malformed web data file: a read reaches past the end of an entry.");
    base_.ReadAt(pos_ + pos, dst, n);
  }

 private:
  ByteSource& base_;
  uint64_t pos_, size_;
};

// Opening a bundle inside tells the chooser about the bundle's files alone; the web data file
// fills it with all of its own afterwards.
class ChooserKept : public Frontend {
 public:
  explicit ChooserKept(Frontend& inner) : inner_(inner) {}
  void ShowProgress(int percent) override { inner_.ShowProgress(percent); }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  void MessageBox(const std::string& text) override { inner_.MessageBox(text); }
  void Note(const std::string& text) override { inner_.Note(text); }
  void ErrorBox(const std::string& text) override { inner_.ErrorBox(text); }
  void ConsoleLine(const std::string& text) override { inner_.ConsoleLine(text); }
  void EnableCommands(bool enabled) override { inner_.EnableCommands(enabled); }

 private:
  Frontend& inner_;
};

bool StartsWithSignature(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= kSignatureBytes &&
         std::memcmp(bytes.data(), kWebDataSignature, kSignatureBytes) == 0;
}

// The archive's path, without ".split0" for pieces: run files are named after it.
std::string ArchiveName(const OpenedArchive& a) {
  return a.JoinedPath.empty() ? a.GivenPath : WithoutExtension(a.GivenPath);
}

std::shared_ptr<TemporaryFile> NewRunFile(const OpenedArchive& a, const std::string& suffix) {
  const std::string name = ArchiveName(a);
  return MakeRunFile(FolderOf(name), "." + FileNameOf(name).substr(0, 64) + ".", suffix);
}

void Unwrap(OpenedArchive& a) {
  WebDataContainer& w = a.WebData;
  std::shared_ptr<TemporaryFile> file = NewRunFile(a, ".unwrapped");
  {
    FileSource wrapped(a.ArchivePath);
    OutputFile out(file->Path(), OutputFile::Target::kRunFile);
    Unwrap(wrapped, w.Wrapper, [&out](const uint8_t* data, size_t n) { out.Write(data, n); });
    out.Close();
  }
  w.UnwrappedFile = std::move(file);
  w.ContainerPath = w.UnwrappedFile->Path();
}

// The table, each entry checked to lie inside the container after the table and apart from the
// others (the writer moves entries by their order in the file).
void ReadTable(WebDataContainer& w) {
  FileSource source(w.ContainerPath);
  Reader r(source);
  r.Require(kSignatureBytes + 4);
  r.Skip(kSignatureBytes);
  w.HeaderSize = r.U32(ByteOrder::Little);
  if (w.HeaderSize < kSignatureBytes + 4 || w.HeaderSize > source.Size())
    Malformed("its table size " + std::to_string(w.HeaderSize) + " does not fit the file.");
  w.Entries.clear();
  while (r.Tell() < w.HeaderSize) {
    if (w.HeaderSize - r.Tell() < kEntryRecord) Malformed("its table ends inside a record.");
    WebDataEntry e;
    e.Offset = r.U32(ByteOrder::Little);
    e.Size = r.U32(ByteOrder::Little);
    const uint32_t length = r.U32(ByteOrder::Little);
    if (length > w.HeaderSize - r.Tell()) Malformed("a name reaches past the end of its table.");
    e.Name = r.ReadText(length);
    if (e.Offset < w.HeaderSize || e.Offset > source.Size() || e.Size > source.Size() - e.Offset)
      Malformed("the entry \"" + e.Name + "\" lies outside the file.");
    w.Entries.push_back(std::move(e));
  }
  if (w.Entries.empty()) throw Error("The web data file holds no files.");
  std::vector<const WebDataEntry*> order;
  for (const WebDataEntry& e : w.Entries) order.push_back(&e);
  std::sort(order.begin(), order.end(),
            [](const WebDataEntry* x, const WebDataEntry* y) { return x->Offset < y->Offset; });
  for (size_t i = 1; i < order.size(); ++i)
    if (order[i - 1]->Offset + order[i - 1]->Size > order[i]->Offset)
      Malformed("the entries \"" + order[i - 1]->Name + "\" and \"" + order[i]->Name +
                "\" overlap.");
  for (WebDataEntry& e : w.Entries) {
    SliceSource slice(source, e.Offset, e.Size);
    e.Nested = ReadBlockBundleDirectory(slice);
  }
}

struct FlatFile {
  size_t entry;
  int nested;  // -1: the entry itself
  std::string name;
};

std::vector<FlatFile> FlatFiles(const WebDataContainer& w) {
  std::vector<FlatFile> files;
  for (size_t i = 0; i < w.Entries.size(); ++i) {
    const WebDataEntry& e = w.Entries[i];
    if (e.Nested.empty()) {
      files.push_back({i, -1, NormaliseContainedName(e.Name)});
      continue;
    }
    for (size_t k = 0; k < e.Nested.size(); ++k)
      files.push_back({i, static_cast<int>(k),
                       NormaliseContainedName(e.Name) + kSep + e.Nested[k].Name});
  }
  return files;
}

// The container's own entries in the shape of a bundle's contained files, offsets counted from
// the container's start (BlockDataStart 0).
std::vector<ContainedFile> EntriesAsFiles(const WebDataContainer& w) {
  std::vector<ContainedFile> files;
  for (const WebDataEntry& e : w.Entries)
    files.push_back({NormaliseContainedName(e.Name), e.Name, e.Offset, e.Size, 0});
  return files;
}

void CopyEntryOut(OpenedArchive& a, const WebDataEntry& e) {
  std::shared_ptr<TemporaryFile> file = NewRunFile(a, ".unity3d");
  FileSource container(a.WebData.ContainerPath);
  OutputFile out(file->Path(), OutputFile::Target::kRunFile);
  out.CopyFrom(container, e.Offset, e.Size);
  out.Close();
  a.WebData.BundleFile = std::move(file);
}

void ReadBundleSignature(OpenedArchive& a) {
  FileSource source(a.ArchivePath);
  Reader r(source, 256);
  a.Bundle.Signature = r.CStringToEnd(16);
  a.Bundle.BundleVersion = r.U32(ByteOrder::Big);
}

void ChooseEntry(OpenedArchive& a, const WebDataEntry& e) {
  WebDataContainer& w = a.WebData;
  a.ArchivePath = w.ContainerPath;
  a.WorkingFile = w.UnwrappedFile;
  a.WorkingPath = w.UnwrappedFile ? w.ContainerPath : "";
  a.Bundle = Container();
  a.Bundle.Signature = kWebDataSignature;
  a.Bundle.ContainedFiles = EntriesAsFiles(w);
  a.SelectedFileIndex = w.SelectedEntry;
  a.AssetBaseName = FileNameOf(NormaliseContainedName(e.Name));
  a.ArchiveFolderName = a.ArchiveBaseName + kSep + a.AssetBaseName;
  a.AssetBase = e.Offset;
}

void ChooseInBundle(OpenedArchive& a, Frontend& frontend, const WebDataEntry& e, int nested) {
  CopyEntryOut(a, e);
  a.ArchivePath = a.WebData.BundleFile->Path();
  a.WorkingFile.reset();
  a.WorkingPath.clear();
  a.Bundle = Container();
  ReadBundleSignature(a);
  a.SelectedFileIndex = nested;
  a.ArchiveFolderName = a.ArchiveBaseName;
  ChooserKept quiet(frontend);
  OpenBundle(a, quiet);
}

}  // namespace

bool DetectWebData(OpenedArchive& a) {
  WebDataContainer& w = a.WebData;
  w = WebDataContainer();
  if (a.Bundle.Signature == kWebDataSignature) {
    w.Present = true;
    return true;
  }
  FileSource file(a.ArchivePath);
  SliceSource start(file, 0, std::min(file.Size(), kProbeBytes));
  const std::string ext = AsciiLower(ExtensionOf(a.GivenPath));
  StreamWrapper kind = StreamWrapper::kNone;
  if (LooksGzip(start)) {
    kind = StreamWrapper::kGzip;
  } else if (ext == ".br" || ext == ".unityweb" || !IsBundleSignature(a.Bundle.Signature)) {
    kind = StreamWrapper::kBrotli;
  }
  if (kind == StreamWrapper::kNone ||
      !StartsWithSignature(PeekUnwrapped(start, kind, kSignatureBytes)))
    return false;
  w.Present = true;
  w.Wrapper = kind;
  return true;
}

void OpenWebData(OpenedArchive& a, Frontend& frontend, int flat_index) {
  WebDataContainer& w = a.WebData;
  if (w.Wrapper == StreamWrapper::kNone) {
    w.ContainerPath = a.ArchivePath;
  } else {
    Unwrap(a);
  }
  ReadTable(w);
  ChooseWebDataFile(a, frontend, flat_index);
}

// Without -i the first serialized file opens, as in a bundle: a container entry by its header,
// a file of the bundle inside by its node's flag for serialized files (0x4).
int FirstSerializedFlatFile(const WebDataContainer& w, const std::vector<FlatFile>& files) {
  FileSource container(w.ContainerPath);
  Reader r(container);
  for (size_t i = 0; i < files.size() && i < INT32_MAX; ++i) {
    const WebDataEntry& e = w.Entries[files[i].entry];
    const bool serialized =
        files[i].nested < 0
            ? LooksLikeAssetFile(r, e.Offset, e.Size)
            : (e.Nested[static_cast<size_t>(files[i].nested)].Flags & 4u) != 0;
    if (serialized) return static_cast<int>(i);
  }
  return 0;
}

void ChooseWebDataFile(OpenedArchive& a, Frontend& frontend, int flat_index) {
  WebDataContainer& w = a.WebData;
  const std::vector<FlatFile> files = FlatFiles(w);
  const std::string last = std::to_string(files.size() - 1);
  if (flat_index == kFirstSerializedFile && !files.empty())
    flat_index = FirstSerializedFlatFile(w, files);
  if (flat_index < 0)
    throw Error("The contained file index must be a whole number from 0 to " + last + ".");
  if (static_cast<size_t>(flat_index) >= files.size())
    throw Error("Contained file index " + std::to_string(flat_index) +
                " is not in the web data file: it holds " + std::to_string(files.size()) +
                " files (indices 0 to " + last + ").");
  const FlatFile& chosen = files[static_cast<size_t>(flat_index)];
  w.SelectedEntry = static_cast<int>(chosen.entry);
  w.SelectedNested = chosen.nested;
  w.BundleFile.reset();
  const WebDataEntry& e = w.Entries[chosen.entry];
  if (chosen.nested < 0) {
    ChooseEntry(a, e);
  } else {
    ChooseInBundle(a, frontend, e, chosen.nested);
  }
  std::vector<std::string> names;
  for (const FlatFile& f : files) names.push_back(f.name);
  frontend.FillChooser(names, flat_index);
}

int ExtractWebDataFiles(const OpenedArchive& a, Frontend& frontend, const std::string& folder) {
  const WebDataContainer& w = a.WebData;
  FileSource container(w.ContainerPath);
  int written = 0;
  for (size_t i = 0; i < w.Entries.size(); ++i) {
    const WebDataEntry& e = w.Entries[i];
    const std::string name = NormaliseContainedName(e.Name);
    if (!IsContainedName(name)) {
      frontend.MessageBox("Skipped the contained file \"" + e.Name +
                          "\": its name leads outside the folder " + folder);
      continue;
    }
    if (!e.Nested.empty()) {
      // The bundle's own files, under its name. The open one is read as it stands; another is
      // opened for the purpose.
      OpenedArchive bundle = a;
      bundle.WebData = WebDataContainer();
      if (a.WebData.SelectedEntry != static_cast<int>(i) || a.WebData.SelectedNested < 0) {
        bundle.WebData.ContainerPath = w.ContainerPath;
        bundle.WebData.Entries = w.Entries;
        ChooseInBundle(bundle, frontend, e, 0);
      }
      const std::string below = folder + name + kSep;
      CreateFoldersBelow(folder, below);
      written += ExtractBundleFiles(bundle, frontend, below);
      continue;
    }
    try {
      CreateFoldersBelow(folder, FolderOf(folder + name));
      OutputFile out(folder + name);
      out.CopyFrom(container, e.Offset, e.Size);
      out.Close();
    } catch (const RefusedFile& failure) {
      frontend.MessageBox("Skipped the contained file \"" + e.Name + "\": " + failure.what());
      continue;
    }
    ++written;
    frontend.ConsoleLine("Export archive: " + folder + name);
  }
  return written;
}

namespace {

// The table as it is after the selected entry took `new_size` bytes: later entries move.
std::vector<WebDataEntry> MovedEntries(const WebDataContainer& w, uint64_t new_size) {
  std::vector<WebDataEntry> entries = w.Entries;
  const WebDataEntry& chosen = w.Entries[static_cast<size_t>(w.SelectedEntry)];
  const int64_t change = static_cast<int64_t>(new_size) - static_cast<int64_t>(chosen.Size);
  for (WebDataEntry& e : entries) {
    if (e.Offset > chosen.Offset) e.Offset = static_cast<uint64_t>(static_cast<int64_t>(e.Offset) + change);
    if (e.Offset > UINT32_MAX || e.Size > UINT32_MAX || e.Offset + e.Size > UINT32_MAX)
      throw Error("The web data file would grow past 4 GB, more than its table can describe.");
  }
  entries[static_cast<size_t>(w.SelectedEntry)].Size = new_size;
  if (new_size > UINT32_MAX)
    throw Error("The web data file would grow past 4 GB, more than its table can describe.");
  return entries;
}

// The table bytes: the same names in the same order, so its length stays.
std::vector<uint8_t> TableBytes(const WebDataContainer& w, const std::vector<WebDataEntry>& entries) {
  std::vector<uint8_t> b(kSignatureBytes + 4);
  std::memcpy(b.data(), kWebDataSignature, kSignatureBytes);
  Put32(b.data() + kSignatureBytes, static_cast<uint32_t>(w.HeaderSize), ByteOrder::Little);
  for (const WebDataEntry& e : entries) {
    uint8_t record[kEntryRecord];
    Put32(record, static_cast<uint32_t>(e.Offset), ByteOrder::Little);
    Put32(record + 4, static_cast<uint32_t>(e.Size), ByteOrder::Little);
    Put32(record + 8, static_cast<uint32_t>(e.Name.size()), ByteOrder::Little);
    b.insert(b.end(), record, record + kEntryRecord);
    b.insert(b.end(), e.Name.begin(), e.Name.end());
  }
  if (b.size() != w.HeaderSize) throw Error("The web data file's table changed its length.");
  return b;
}

// The new container: the old one with the selected entry's bytes taken from `entry_source`.
void WriteContainer(const WebDataContainer& w, const std::vector<uint8_t>& table,
                    ByteSource& entry_source, OutputFile& out) {
  FileSource old(w.ContainerPath);
  const WebDataEntry& chosen = w.Entries[static_cast<size_t>(w.SelectedEntry)];
  out.Write(table);
  out.CopyFrom(old, w.HeaderSize, chosen.Offset - w.HeaderSize);
  out.CopyFrom(entry_source, 0, entry_source.Size());
  const uint64_t after = chosen.Offset + chosen.Size;
  out.CopyFrom(old, after, old.Size() - after);
}

void Announce(const StepHook& hook, std::string_view step) {
  if (hook) hook(step);
}

// The user's file takes the new container, wrapped again as it was.
void ReplaceGivenFile(const OpenedArchive& a, const std::string& container_path,
                      const StepHook& hook) {
  WrapperLayout layout;
  {
    FileSource given(a.GivenPath);
    layout = ReadWrapperLayout(given, a.WebData.Wrapper);
  }
  ReplacementFile target(a.GivenPath);
  {
    FileSource plain(container_path);
    OutputFile out(target.Path(), OutputFile::Target::kRunFile);
    Wrap(plain, layout, [&out](const uint8_t* data, size_t n) { out.Write(data, n); });
    out.Close();
  }
  target.Flush();
  Announce(hook, kStepWebDataWritten);
  target.Commit();
  Announce(hook, kStepWebDataReplaced);
}

}  // namespace

void CommitWebData(OpenedArchive& a, int64_t net_change, uint64_t old_asset_file_size,
                   const std::string& rebuilt, const StepHook& hook) {
  WebDataContainer& w = a.WebData;
  const WebDataEntry& chosen = w.Entries[static_cast<size_t>(w.SelectedEntry)];
  const bool wrapped = w.Wrapper != StreamWrapper::kNone;
  if (w.SelectedNested < 0) {
    // The rebuilt file is the whole container; only its table is behind.
    const int64_t size = static_cast<int64_t>(chosen.Size) + net_change;
    if (size < 0) throw Error("The web data entry would shrink below nothing.");
    std::vector<WebDataEntry> entries = MovedEntries(w, static_cast<uint64_t>(size));
    const std::vector<uint8_t> table = TableBytes(w, entries);
    PatchFile(rebuilt, 0, table.data(), table.size());
    if (wrapped) ReplaceGivenFile(a, rebuilt, hook);
    w.Entries = std::move(entries);
    a.Bundle.ContainedFiles = EntriesAsFiles(w);
    return;
  }

  // The bundle inside, repacked as any bundle into its own file (or, read stored, the rebuilt
  // working file with its tables patched).
  RepackOptions options;
  options.RebuiltPath = rebuilt;
  options.BundlePath = w.BundleFile->Path();
  options.StepDone = hook;
  RepackBundle(a, net_change, old_asset_file_size, options);
  const std::string bundle_path = a.WorkingPath.empty() ? rebuilt : w.BundleFile->Path();
  FileSource bundle(bundle_path);
  std::vector<WebDataEntry> entries = MovedEntries(w, bundle.Size());
  entries[static_cast<size_t>(w.SelectedEntry)].Nested = a.Bundle.ContainedFiles;
  const std::vector<uint8_t> table = TableBytes(w, entries);
  if (!wrapped) {
    ReplacementFile target(a.GivenPath);
    {
      OutputFile out(target.Path(), OutputFile::Target::kRunFile);
      WriteContainer(w, table, bundle, out);
      out.Close();
    }
    target.Flush();
    Announce(hook, kStepWebDataWritten);
    target.Commit();
    Announce(hook, kStepWebDataReplaced);
  } else {
    ReplacementFile container(w.ContainerPath);
    {
      OutputFile out(container.Path(), OutputFile::Target::kRunFile);
      WriteContainer(w, table, bundle, out);
      out.Close();
    }
    ReplaceGivenFile(a, container.Path(), hook);
    container.Commit();
  }
  w.Entries = std::move(entries);
}

}  // namespace kestrix
