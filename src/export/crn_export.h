// The external crunch tool: where it is looked for, and the crunched-texture writer with the
// tool folder given (the program passes its own folder; tests pass a folder of their own).
#pragma once

#include <string>

namespace kestrix {

struct ConverterCall;
class ConverterContext;

// folder + "crunch.exe" when that file exists, else folder + "crunch_x64.exe" when that exists,
// else "".
std::string CrunchToolPath(const std::string& folder);

void ExportCrnWithTool(const ConverterCall& call, ConverterContext& ctx,
                       const std::string& tool_folder);

}  // namespace kestrix
