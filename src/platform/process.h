// Starting an external tool directly (no shell) and waiting for it.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

// Folder of the running executable, ending in a separator ("" when it cannot be found).
std::string ExecutableFolder();
// Runs program with its arguments as separate words and waits for it to end. Returns its exit
// status, or -1 when it could not be started or ended by a signal.
int RunAndWait(const std::string& program, const std::vector<std::string>& args);

}  // namespace kestrix
