// Crunched textures back into Texture2D payloads. Crunched export leaves name.crn.dds beside
// name.crn; when that DDS is there and the crunch tool sits beside the program, the tool turns
// the (possibly edited) DDS into a new name.crn first. The .crn file is then the image data.
#include "core/frontend.h"
#include "export/crn_export.h"
#include "import/texture_import.h"
#include "platform/file_ops.h"
#include "platform/process.h"

namespace kestrix {

void ImportCrnWithTool(const ImporterCall& call, ImporterContext& ctx,
                       const std::string& tool_folder) {
  const CurrentTexture current = ReadCurrentTexture(call);
  const TextureHeader& h = current.header;
  // Export writes a crunched texture's first image only, so one file cannot stand for more.
  if (h.ImageCount() != 1) {
    ctx.frontend.MessageBox("Crunched texture of " + std::to_string(h.ImageCount()) +
                            " images not supported!");
    return;
  }
  const std::string tool = CrunchToolPath(tool_folder);
  const std::string edited = call.source_path + ".dds";
  if (!tool.empty() && FileExists(edited)) {
    OpenSourceFile(call, edited);  // the tool reads it: the same rule as for the source
    ctx.frontend.ConsoleLine(call.relative_path + ".crn.dds -> CRN");
    // Neither the exit status nor the output is checked: a failed run leaves the old .crn.
    RunAndWait(tool, {"-out", call.source_path, "-file", edited});
  }
  const std::vector<uint8_t> crn = ReadSourceFile(call, call.source_path);
  CheckImageTotal(crn.size(), 1);

  ImportedTexture t;
  t.width = h.width;
  t.height = h.height;
  t.format = h.format;
  t.mip_field = h.mip_field;
  t.image_count = 1;
  t.complete_image_size = static_cast<uint32_t>(crn.size());
  t.data = crn;
  SaveRawFile(call, RebuildTexturePayload(h, t, call.big_endian));
  ctx.frontend.ConsoleLine(call.source_path + " -> TEX");
}

void ImportCrn(const ImporterCall& call, ImporterContext& ctx) {
  ImportCrnWithTool(call, ctx, ExecutableFolder());
}

}  // namespace kestrix
