// Shared by the fuzz targets: a scratch folder per process and a frontend that swallows output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/frontend.h"

namespace kestrix::fuzz {

class QuietFrontend : public Frontend {
 public:
  void MessageBox(const std::string&) override {}
  void ErrorBox(const std::string&) override {}
  void ConsoleLine(const std::string&) override {}
};

// A folder for this process, made once and emptied before each input.
const std::string& ScratchDir();
void ClearScratch();
// Writes the input to a file in the scratch folder and returns its path.
std::string WriteInput(const uint8_t* data, size_t size, const std::string& name);

}  // namespace kestrix::fuzz
