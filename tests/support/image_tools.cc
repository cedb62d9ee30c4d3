#include "support/image_tools.h"

#include "support/shell_pipe.h"

#include <cstdio>

namespace kestrix::testing {

std::string CaptureCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
  int rc = ::pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool HaveImageMagick() {
  int status = -1;
  CaptureCommand("identify -version", &status);
  return status == 0;
}

std::string IdentifySize(const std::string& path) {
  int status = -1;
  std::string out = CaptureCommand("identify -format '%w %h\\n' '" + path + "'", &status);
  if (status != 0) return std::string();
  return out.substr(0, out.find('\n'));
}

bool HavePillow() {
  int status = -1;
  CaptureCommand("/usr/bin/python3 -c 'import PIL.Image'", &status);
  return status == 0;
}

std::vector<std::string> PillowSizes(const std::vector<std::string>& paths) {
  std::string command =
      "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nfor p in sys.argv[1:]:\n"
      "  try:\n    im = Image.open(p); im.load(); print(im.size[0], im.size[1])\n"
      "  except Exception:\n    print()'";
  for (const std::string& path : paths) {
    std::string quoted;
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " '" + quoted + "'";
  }
  std::vector<std::string> out;
  std::string report = CaptureCommand(command);
  size_t start = 0;
  for (size_t end; (end = report.find('\n', start)) != std::string::npos; start = end + 1)
    out.push_back(report.substr(start, end - start));
  out.resize(paths.size());
  return out;
}

std::vector<uint8_t> DecodeViaPng(const std::string& path, const std::string& png_path) {
  int status = -1;
  CaptureCommand("convert '" + path + "[0]' '" + png_path + "'", &status);
  if (status != 0) return {};
  std::string raw = CaptureCommand("convert '" + png_path + "' -depth 8 rgba:-", &status);
  if (status != 0) return {};
  return std::vector<uint8_t>(raw.begin(), raw.end());
}

}  // namespace kestrix::testing
