// Which output files a piece of work wrote: while a WrittenFiles lives, every OutputFile closed
// whole on its thread notes its path there. The export record uses it to hash what an entry's
// converters wrote without each converter having to report its files.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

class WrittenFiles {
 public:
  WrittenFiles();
  ~WrittenFiles();
  WrittenFiles(const WrittenFiles&) = delete;
  WrittenFiles& operator=(const WrittenFiles&) = delete;

  // The paths noted since the last Take, in the order they were closed.
  std::vector<std::string> Take();

  // Called by OutputFile once a file is complete; does nothing when no collector lives.
  static void Note(const std::string& path);

 private:
  WrittenFiles* outer_;
  std::vector<std::string> paths_;
};

}  // namespace kestrix
