// The whole open on one file: container stage, asset reader and naming pass, whose entries must
// not depend on whether one thread or two named them.
#include <string>

#include "core/error.h"
#include "core/list_row.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support.h"
#include "types/naming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  std::string path = fuzz::WriteInput(data, size, "level0.assets");
  Session session;
  fuzz::QuietFrontend frontend;
  try {
    OpenArchive(session, frontend, path);
    // Everything the list shows must be computable for every entry.
    ListRow row;
    std::string line;
    for (size_t i = 0; i < session.EntryCount(); ++i) {
      volatile uint64_t offset = session.PayloadOffset(i);
      volatile uint32_t length = session.PayloadSize(i);
      (void)offset;
      (void)length;
      FillListRow(session, i, row);
      line.clear();
      AppendListLine(row, line);
    }
    // Named again by two threads, every entry must come out the same.
    Session two;
    two.Archive.AssetBaseName = session.Archive.AssetBaseName;
    two.Asset = session.Asset;
    FileSource source(session.Archive.ArchivePath);
    NamingPass(two, frontend, source, false, 2);
    for (size_t i = 0; i < session.EntryCount(); ++i)
      if (ListLineText(BuildListRow(two, i)) != ListLineText(BuildListRow(session, i)))
        __builtin_trap();
  } catch (const Error&) {
  }
  CloseArchive(session);
  return 0;
}
