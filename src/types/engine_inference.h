// The engine a file whose version text is stripped ("0.0.0") most likely came from, for the
// layouts its objects are read with: the first engine that wrote its serialized format, raised
// by the fields its type trees show.
#pragma once

#include "core/serialized_file.h"

namespace kestrix {

// The earliest engine consistent with the file's format and type trees; Known is false for
// formats that no stripped file has (before 14).
EngineVersion InferEngine(const SerializedFile& file);

}  // namespace kestrix
