// Object fields written by the writer read back through the cursor, in both byte orders, and
// the cursor's refusals: reads past the object, counts it cannot hold, probes that miss.
#include "core/object_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/error.h"
#include "platform/byte_source.h"
#include "platform/reader.h"

namespace kestrix {
namespace {

TEST(ObjectCursor, ReadsWhatTheWriterWroteAndStaysInsideTheObject) {
  for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
    ObjectWriter w(order);
    w.String("Hero");   // 4 + 4, no padding
    w.String("abcde");  // 4 + 5 + 3 padding
    w.U8(7);
    w.Align();
    w.U16(0xBEEF);
    w.Align();
    w.ByteArray({1, 2, 3});
    w.U64(0x0102030405060708ull);
    w.F32(1.5f);
    const size_t length_at = w.Size();
    w.U32(0);
    w.PatchU32(length_at, 42);
    // The object sits 6 bytes into the stream (not a multiple of 4), with a stranger after it:
    // padding counts from the object's start, and the stranger is out of reach.
    std::vector<uint8_t> stream(6 + w.Size() + 8, 0xEE);
    std::copy(w.Data().begin(), w.Data().end(), stream.begin() + 6);
    MemorySource source(stream);
    Reader reader(source);
    ObjectCursor c(reader, 6, 6 + w.Size(), order);
    EXPECT_EQ(c.String(), "Hero");
    EXPECT_EQ(c.String(), "abcde");
    EXPECT_EQ(c.U8(), 7);
    c.Align();
    EXPECT_EQ(c.U16(), 0xBEEF);
    c.Align();
    EXPECT_EQ(c.ByteArray(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(c.U64(), 0x0102030405060708ull);
    EXPECT_EQ(c.F32(), 1.5f);
    EXPECT_EQ(c.U32(), 42u);
    EXPECT_EQ(c.Remaining(), 0u);
    EXPECT_THROW(c.U8(), Error);  // the stranger's bytes are not the object's
    uint32_t v = 0;
    EXPECT_FALSE(c.TryU32At(6 + w.Size() - 2, &v));
    EXPECT_FALSE(c.TryU32At(2, &v));  // before the object
    ASSERT_TRUE(c.TryU32At(6, &v));
    EXPECT_EQ(v, 4u);
    // A count the object cannot hold is refused before anything is skipped or allocated.
    c.Seek(6);
    EXPECT_THROW(c.Count(w.Size()), Error);
    c.Seek(6);
    try {
      c.Count(1u << 30);
      ADD_FAILURE() << "a huge count was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::kDamagedData);
    }
  }
}

}  // namespace
}  // namespace kestrix
