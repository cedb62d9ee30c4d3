// The whole open on one file: container stage, asset reader and naming pass.
#include <string>

#include "core/error.h"
#include "core/list_row.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/io_error.h"
#include "support.h"

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
  } catch (const Error&) {
  }
  CloseArchive(session);
  return 0;
}
