#include "support/tool_checks.h"

#include "support/shell_pipe.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kestrix::testing {

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

ToolReport Run(const std::string& tool, const std::string& arguments) {
  ToolReport report;
  std::error_code ec;
  if (!kLinuxToolsRun || !std::filesystem::exists(tool, ec)) return report;
  std::string command = tool + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return report;
  report.ran = true;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) report.output += buffer;
  int status = pclose(pipe);
  report.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return report;
}

}  // namespace

ToolReport RunOgginfo(const std::string& path) { return Run("/usr/bin/ogginfo", Quoted(path)); }

ToolReport RunAssimpInfo(const std::string& path) {
  return Run("/usr/bin/assimp", "info " + Quoted(path) + " -r");
}

long ReportNumber(const std::string& report, const std::string& label) {
  size_t at = report.find("\n" + label);
  if (at == std::string::npos) return -1;
  return std::strtol(report.c_str() + at + 1 + label.size(), nullptr, 10);
}

}  // namespace kestrix::testing
