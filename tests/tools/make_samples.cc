// Writes the demo archives of samples/ with the archive builder:  make_samples <folder>
#include <cstdio>
#include <string>

#include "support/samples.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples <folder>\n");
    return 2;
  }
  kestrix::testing::WriteSamples(argv[1]);
  return 0;
}
