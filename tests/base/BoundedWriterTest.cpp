#include "base/BoundedWriter.h"

#include <gtest/gtest.h>
#include <vector>

namespace quillet {

TEST(BoundedWriter, WritesEachByteOrder)
{
    uint8_t buf[32] = {};
    BoundedWriter w(buf, sizeof buf);
    w.u8(0xAB);
    w.be16(0x0102);
    w.be24(0x030405);
    w.be32(0x06070809);
    w.le16(0x0A0B);
    w.le32(0x0C0D0E0F);
    w.be64(0x1011121314151617ull);
    ASSERT_TRUE(w.ok());
    const std::vector<uint8_t> expected = {0xAB, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0B, 0x0A, 0x0F, 0x0E, 0x0D, 0x0C,
                                           0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + w.size()), expected);
}

TEST(BoundedWriter, RefusesToPassTheEndAndStaysFailed)
{
    uint8_t buf[8];
    std::fill(buf, buf + 8, 0xEE);
    BoundedWriter w(buf, 5);
    w.be32(0x01020304);
    w.be16(0x0506); // would need 6 bytes
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(w.size(), 4u);
    EXPECT_EQ(buf[4], 0xEE) << "nothing written past a refused write";
    w.u8(1); // fits, but the writer has failed for good
    EXPECT_EQ(w.size(), 4u);
    EXPECT_EQ(buf[5], 0xEE);
}

TEST(BoundedWriter, PatchesOnlyWrittenBytes)
{
    uint8_t buf[8] = {};
    BoundedWriter w(buf, sizeof buf);
    w.be32(0);
    w.patchBE32(0, 0xCAFEBABE);
    w.patchBE32(2, 0x11111111); // reaches past what was written: ignored
    EXPECT_EQ(getBE32(buf), 0xCAFEBABEu);
}

} // namespace quillet
