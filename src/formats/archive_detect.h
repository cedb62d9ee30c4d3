// Which files of a game folder are Unity archives, told by their first bytes rather than by
// their names: games name their archives freely ("level0", "data.unity3d", "x-lz4"), and a
// name says nothing about a file a user renamed.
#pragma once

#include <string>

namespace kestrix {

// A resource file (".resS", ".resource") or a piece of a split archive other than the first
// (".split1", ...): data another archive reads, never an archive of its own.
bool IsArchiveCompanion(const std::string& file_name);
// A resource file (".resS", ".resource", in any case).
bool IsResourceFileName(const std::string& file_name);

// True when the file begins as a bundle ("UnityFS", "UnityRaw", "UnityWeb",
// "UnityWebData1.0") or as a serialized file whose header fields agree with each other and
// with the file's size. Companions (see above) are not archives, whatever they hold. A file
// that cannot be read is not one either.
bool LooksLikeArchive(const std::string& path);

// The same test on the first bytes of a file of `file_size` bytes (`piece`: the file is the
// first of several split pieces, so the header may state a larger size).
bool HeaderLooksLikeArchive(const unsigned char* bytes, size_t n, unsigned long long file_size,
                            bool piece);

}  // namespace kestrix
