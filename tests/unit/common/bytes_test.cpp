#include "common/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

using namespace orv::bytes;

TEST(Bytes, FixedOffsetAccessIsLittleEndianAndBounded) {
    std::array<std::uint8_t, 8> buf{};
    EXPECT_TRUE(PutU32(buf, 4, 0x11223344u));
    EXPECT_EQ(buf[4], 0x44);
    EXPECT_EQ(buf[7], 0x11);
    std::uint32_t v = 0;
    EXPECT_TRUE(GetU32(buf, 4, v));
    EXPECT_EQ(v, 0x11223344u);
    // One byte past the end: refused, nothing written or read.
    EXPECT_FALSE(PutU32(buf, 5, 0xFFFFFFFFu));
    EXPECT_EQ(buf[7], 0x11);
    v = 7;
    EXPECT_FALSE(GetU32(buf, 5, v));
    EXPECT_EQ(v, 7u);
    // Offsets near SIZE_MAX must not wrap around into the buffer.
    EXPECT_FALSE(GetU32(buf, std::numeric_limits<std::size_t>::max() - 1, v));
    EXPECT_TRUE(Slice(buf, 6, 3).empty());
}

TEST(Bytes, ReaderLatchesFailureAndWriterWritesNothingPastEnd) {
    std::array<std::uint8_t, 6> buf{};
    ByteWriter w(buf);
    w.U16(0xBEEF);
    w.U32(0x01020304);
    EXPECT_TRUE(w.Ok());
    w.U8(9);
    EXPECT_FALSE(w.Ok());
    EXPECT_EQ(w.Pos(), 6u);

    ByteReader r(buf);
    EXPECT_EQ(r.U16(), 0xBEEF);
    EXPECT_EQ(r.U32(), 0x01020304u);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.U8(), 0);
    EXPECT_FALSE(r.Ok());
    EXPECT_TRUE(r.Bytes(1).empty());
}
