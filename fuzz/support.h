// Shared by the fuzz targets: a scratch folder per process, a frontend that swallows output, and
// a cursor that takes the small control fields some targets put in front of their data.
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
// Writes bytes to `relative` inside the scratch folder (folders made as needed) without emptying
// it first. Returns false when the name cannot be a file there.
bool WriteScratchFile(const std::string& relative, const uint8_t* data, size_t size);

// Takes fields from the front of the input; a field the input is too short for reads as zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Le32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
    return v;
  }
  // The next `n` bytes, or all that remain when fewer do.
  const uint8_t* Take(size_t n, size_t* got) {
    const uint8_t* at = data_ + pos_;
    *got = n < size_ - pos_ ? n : size_ - pos_;
    pos_ += *got;
    return at;
  }
  const uint8_t* Rest(size_t* got) { return Take(size_ - pos_, got); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace kestrix::fuzz
