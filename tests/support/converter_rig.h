// Calls a converter the way the export driver does: a Reader at the payload start, the payload
// size, the byte order and the output folders, with a session and a recording frontend.
#pragma once

#include <algorithm>
#include <string>

#include "core/session.h"
#include "export/converter.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix::testing {

using ConverterFn = void (*)(const ConverterCall&, ConverterContext&);

struct ConverterRig {
  Session session;
  ExportRequest request;
  RecordingFrontend frontend;
  TempDir dir;
  std::string relative = "Unity_Assets_Files/demo/Textures/";
  std::string output_root;     // the -p folder; the archive's folder when empty
  FieldLayout texture_fields;  // textures of engines read field by field

  ConverterRig() { session.Archive.ArchivePath = dir.File("demo.assets"); }
  std::string Base() const { return output_root.empty() ? dir.Path() + "/" : output_root; }
  std::string Out(const std::string& name) const { return Base() + relative + name; }

  // The payload sits after some other bytes, as in an archive, so converters must start at the
  // stream's position rather than at 0.
  void Run(ConverterFn fn, const Bytes& payload, const std::string& name = "Hero.tex",
           bool big_endian = false) {
    Bytes file(20 + payload.size() + 16, 0xEE);
    std::copy(payload.begin(), payload.end(), file.begin() + 20);
    MemorySource source(file);
    Reader reader(source);
    reader.Seek(20);
    ConverterCall call{
        reader,         static_cast<uint32_t>(payload.size()), big_endian, Base(), relative, name,
        &texture_fields};
    ConverterContext ctx(session, request, frontend);
    fn(call, ctx);
  }
};

}  // namespace kestrix::testing
