// The naming pass: gives every object of the serialized file its entry: file name, type text,
// texture format, payload location and duplicate number. It only names; the records are read
// by the asset reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/two_threads.h"

namespace kestrix {

struct Session;
class Frontend;
class ByteSource;

// Extension of a class in the export tree ("" for classes without one).
const char* ExtensionForClass(int32_t class_id);
// A positive number in a field of five characters, padding zeros in front: 7 -> "00007".
std::string OrdinalText(int32_t value);
// Deletes NUL, the control characters 1 to 31 and \ / : * ? " < > |.
std::string CleanName(const std::string& name);

// Names every object of the session's serialized file: file name, type text, texture format,
// payload location and duplicate number. Object names are read from `source` (the stream at
// ArchivePath). With `font_container` fonts are kept whole and named ".fnt". From `split_at`
// objects on, two threads name a half each.
void NamingPass(Session& session, Frontend& frontend, ByteSource& source, bool font_container,
                size_t split_at = kSecondThreadFrom);

}  // namespace kestrix
