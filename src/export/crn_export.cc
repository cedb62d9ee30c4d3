// Crunched textures (DXT1Crunched, DXT5Crunched): the ".crn" file the payload holds, and a DDS
// made from it by the external crunch tool when one sits beside the program.
#include "export/crn_export.h"

#include "core/session.h"
#include "export/converter.h"
#include "export/texture_source.h"
#include "platform/file_ops.h"
#include "platform/process.h"

namespace kestrix {

std::string CrunchToolPath(const std::string& folder) {
  // "crunch" is the tool built for this system; the other two are the names it has on Windows,
  // kept for folders set up that way (a wrapper script under either name works).
  for (const char* name : {"crunch", "crunch.exe", "crunch_x64.exe"}) {
    std::string path = folder + name;
    if (FileExists(path)) return path;
  }
  return std::string();
}

void ExportCrnWithTool(const ConverterCall& call, ConverterContext& ctx,
                       const std::string& tool_folder) {
  TextureImages images;
  OpenTextureImages(call, ctx, &images);
  // The crunched stream is one file whatever the image count says.
  const std::vector<uint8_t> crn = images.Image(0);
  const std::string target = MakeOutputFolder(call, images.subfolder) + call.file_name;
  OutputFile out(target + ".crn");
  out.Write(crn);
  out.Close();
  ctx.Done(call.file_name + " -> CRN");

  if (!ctx.request().Switches.ExportDds) return;
  const std::string tool = CrunchToolPath(tool_folder);
  if (tool.empty()) return;
  ctx.Done(call.file_name + ".crn -> DDS");
  // Neither the exit status nor the output is checked: a failed conversion leaves the .crn file.
  RunAndWait(tool, {"-out", target + ".crn.dds", "-file", target + ".crn"});
}

void ExportCrn(const ConverterCall& call, ConverterContext& ctx) {
  ExportCrnWithTool(call, ctx, ExecutableFolder());
}

}  // namespace kestrix
