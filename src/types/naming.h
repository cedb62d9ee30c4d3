// The naming pass: reads the object table into the entry rows and gives every entry its file
// name, type text, texture format, payload location and duplicate number.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

struct Session;
class Frontend;
class Reader;

// Extension of a class in the export tree ("" for classes without one).
const char* ExtensionForClass(int32_t class_id);
// A number in a field of five characters, padding zeros in front: 7 -> "00007".
std::string OrdinalText(int32_t value);
// Deletes NUL, the control characters 1 to 31 and \ / : * ? " < > |.
std::string CleanName(const std::string& name);

// Reads ObjectCount records from the reader's position and fills the session's entry table.
void NamingPass(Session& session, Frontend& frontend, Reader& reader);

}  // namespace kestrix
