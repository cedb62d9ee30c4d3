// Which output files a piece of work wrote: while a WrittenFiles lives, every OutputFile closed
// whole on its thread notes its path there, with the hash of its bytes when it was written
// straight through. The export record uses it to hash what an entry's converters wrote without
// each converter having to report its files, and without reading them back.
#pragma once

#include <string>
#include <vector>

#include "platform/content_hash.h"

namespace kestrix {

struct WrittenFile {
  std::string path;
  bool hashed = false;  // false when bytes were patched after they were written
  ContentHash hash;
};

class WrittenFiles {
 public:
  WrittenFiles();
  ~WrittenFiles();
  WrittenFiles(const WrittenFiles&) = delete;
  WrittenFiles& operator=(const WrittenFiles&) = delete;

  // The files noted since the last Take, in the order they were closed.
  std::vector<WrittenFile> Take();

  // Called by OutputFile once a file is complete; does nothing when no collector lives.
  // `hash` is null when the file's hash is not known.
  static void Note(const std::string& path, const ContentHash* hash);
  // True while a collector lives on this thread (a writer need not hash otherwise).
  static bool Collecting();

 private:
  WrittenFiles* outer_;
  std::vector<WrittenFile> files_;
};

}  // namespace kestrix
