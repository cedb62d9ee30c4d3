// The interface strings of both languages, filled once at start.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

enum StringKey : int {
  kStrOpenArchive = 0,
  kStrExportAll = 1,
  kStrImportAll = 2,
  kStrSearchName = 3,
  kStrSearchText = 4,
  kStrFindNext = 5,
  kStrFindPred = 6,
  kStrItemsSelect = 7,
  kStrMatchCase = 8,
  kStrLoopSearch = 9,
  kStrArchive = 10,
  kStrSize = 11,
  kStrVersion = 12,
  kStrId = 13,
  kStrFiles = 14,
  kStrColNumber = 15,
  kStrColName = 16,
  kStrColType = 17,
  kStrColSize = 18,
  kStrColOffset = 19,
  kStrExportSelected = 20,
  kStrExportSource = 21,
  kStrSelectAll = 22,
  kStrFileNotFound = 23,
  kStrWillBeSkipped = 24,
  kStrArchiveNotFound = 25,
  kStrMeshBigEndian = 26,
  kStrMeshCompressed = 27,
  kStrMeshMemory = 28,
  kStrMeshConvert = 29,
  kStrMissingFile = 30,
  kStrExportJson = 31,
  kStringCount = 32,
};

// Fills the table in Russian when language_id is 0x0419, else in English.
void InitLocalization(uint16_t language_id);
bool InterfaceIsRussian();
const std::string& Str(int key);

}  // namespace kestrix
