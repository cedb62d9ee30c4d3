// Web build data files ("UnityWebData1.0"): plain, gzip- or brotli-wrapped. The container is
// unwrapped as a stream into a file of this run, its table read, and a block bundle inside it
// opened through, so that the contained files of both are chosen by one index in container
// order, a bundle's files taking its place in their own order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/split_pieces.h"

namespace kestrix {

struct OpenedArchive;
class Frontend;

inline constexpr const char* kWebDataSignature = "UnityWebData1.0";

// The steps an import into a web data file reports, besides those of bundle repacking.
inline constexpr std::string_view kStepWebDataWritten = "web data written";  // not yet renamed
inline constexpr std::string_view kStepWebDataReplaced = "web data replaced";

// Whether the file at ArchivePath (whose Signature is read) is a web data file, and in which
// wrapper: the signature itself, gzip's magic with the signature inside, or, when the name ends
// ".br" or ".unityweb" or the start is no bundle, a brotli stream that decodes to it. Sets
// WebData.Present and WebData.Wrapper.
bool DetectWebData(OpenedArchive& archive);

// Opens the web data file found by DetectWebData: unwraps it (never whole in memory), reads its
// table and the directories of the bundles inside, and chooses SelectedFileIndex (see
// ChooseWebDataFile). Throws Error when the container is malformed or the index is not in it.
void OpenWebData(OpenedArchive& archive, Frontend& frontend, int flat_index);

// Chooses the contained file `flat_index` of the open web data file: an entry of the container
// is read where it lies in the unwrapped container; a file of a bundle inside is read from the
// bundle, copied out and unpacked as any bundle. ArchivePath, AssetBase, Bundle (the container's
// entries, or the bundle's files) and SelectedFileIndex (an index into Bundle.ContainedFiles)
// then describe it, as they do for a bundle.
void ChooseWebDataFile(OpenedArchive& archive, Frontend& frontend, int flat_index);

// Writes every contained file to `folder`, a bundle inside under its own name as a folder of
// its files. Returns the number written.
int ExtractWebDataFiles(const OpenedArchive& archive, Frontend& frontend,
                        const std::string& folder);

// The commit's part for a web data file after the import rebuilt the working file at `rebuilt`
// (changed by `net_change` bytes): a bundle inside is repacked as any bundle into its own file,
// the container written with the new entry and its table, wrapped again as it was, and put in
// the place of the file the user named. On failure the user's file is as it was.
void CommitWebData(OpenedArchive& archive, int64_t net_change, uint64_t old_asset_file_size,
                   const std::string& rebuilt, const StepHook& step_done);

}  // namespace kestrix
