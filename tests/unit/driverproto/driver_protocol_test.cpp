#include "protocol/driver/driver_protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/adapter/packet_header.h"

namespace orv::driver {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToVector(const Encoded& e) {
    return Bytes(e.Span().begin(), e.Span().end());
}

TEST(DriverProtocol, LayoutAgreesWithTheAdapterPacketHeader) {
    EXPECT_EQ(kPacketHeaderSize, adapter::kHeaderSize);
    EXPECT_EQ(kPacketOffType, adapter::kOffDataType);
    EXPECT_EQ(kPacketOffFrameIndex, adapter::kOffFrameIndex);
}

TEST(DriverProtocol, MessagesHaveTheirLengthsAndLittleEndianFields) {
    EXPECT_EQ(ToVector(EncodeHello()), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(ToVector(EncodeHelloReply()), (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(ToVector(EncodeModeValue(5)), (Bytes{96, 0, 0, 0, 5, 0, 0, 0}));
    EXPECT_EQ(ToVector(EncodeCalgValue(kCalgUnread)), (Bytes{98, 0, 0, 0, 255, 0, 0, 0}));
    EXPECT_EQ(ToVector(EncodeDropView(-1)), (Bytes{17, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ToVector(EncodeCreateView(1, 3840, 1080, 2, 1)),
              (Bytes{16,   0,    0, 0, 1, 0, 0, 0, 0x00, 0x0F, 0, 0,
                     0x38, 0x04, 0, 0, 2, 0, 0, 0, 1,    0,    0, 0}));
    EXPECT_EQ(EncodeCreateAnswer(1, 7).size, kAnswerSize);
    EXPECT_EQ(EncodeDropAnswer(1, 7).size, kAnswerSize);
    EXPECT_EQ(EncodeViewNotice(1, 7).size, kAnswerSize);
}

TEST(DriverProtocol, DecodeIsDirectionalAndExact) {
    // 16 is 24 bytes towards the driver and 12 towards the service.
    const Encoded request = EncodeCreateView(3, 1920, 1080, 1, 1);
    const auto asRequest = Decode(Direction::kToDriver, request.Span());
    ASSERT_TRUE(asRequest);
    EXPECT_EQ(asRequest->fields, (std::array<std::int32_t, 5>{3, 1920, 1080, 1, 1}));
    EXPECT_FALSE(Decode(Direction::kToService, request.Span()));

    const auto answer = Decode(Direction::kToService, EncodeDropAnswer(1, 3).Span());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, msg::kDropView);
    EXPECT_EQ(answer->fields[0], 1);
    EXPECT_EQ(answer->fields[1], 3);

    EXPECT_FALSE(Decode(Direction::kToService, EncodeHelloReply().Span()));  // 2 is not for us
    EXPECT_FALSE(Decode(Direction::kToService, EncodeHello().Span().first(3)));
}

TEST(DriverProtocol, CutterSplitsMergedReceivesAndJoinsSplitOnes) {
    Bytes stream;
    for (const Encoded& e : {EncodeHello(), EncodeCreateAnswer(1, 1), EncodeViewNotice(1, 2)})
        stream.insert(stream.end(), e.Span().begin(), e.Span().end());

    MessageCutter cutter(Direction::kToService);
    Message m;
    // The stream arrives one byte at a time except the last 9 bytes together.
    for (std::size_t i = 0; i + 9 < stream.size(); ++i) {
        cutter.Append(bytes::ConstBytes(&stream[i], 1));
        if (i == 3) {
            ASSERT_EQ(cutter.Next(m), MessageCutter::Step::kMessage);
            EXPECT_EQ(m.type, msg::kHello);
        }
    }
    cutter.Append(bytes::ConstBytes(stream).last(9));
    ASSERT_EQ(cutter.Next(m), MessageCutter::Step::kMessage);
    EXPECT_EQ(m, (Message{msg::kCreateView, {1, 1, 0, 0, 0}}));
    ASSERT_EQ(cutter.Next(m), MessageCutter::Step::kMessage);
    EXPECT_EQ(m, (Message{msg::kViewNotice, {1, 2, 0, 0, 0}}));
    EXPECT_EQ(cutter.Next(m), MessageCutter::Step::kNeedMore);
    EXPECT_EQ(cutter.Buffered(), 0u);
}

TEST(DriverProtocol, CutterDropsAReceiveOfUnknownTypeAndResumes) {
    MessageCutter cutter(Direction::kToService);
    Message m;
    const Bytes unknown = {77, 0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0};
    cutter.Append(unknown);
    EXPECT_EQ(cutter.Next(m), MessageCutter::Step::kDiscarded);
    EXPECT_EQ(cutter.Discarded(), unknown.size());
    cutter.Append(EncodeDropAnswer(1, 1).Span());
    ASSERT_EQ(cutter.Next(m), MessageCutter::Step::kMessage);
    EXPECT_EQ(m.type, msg::kDropView);
}

TEST(DriverProtocol, NamesOfTheBlockAndEvents) {
    EXPECT_EQ(ShareBufferName(1), "Global\\ORV-SHARE-BUFFER1");
    EXPECT_EQ(ShareBufferName(256), "Global\\ORV-SHARE-BUFFER256");
    EXPECT_EQ(kEventNames[kEventHalf1Ready], "Global\\SyncWaitDriverEvent1");
    EXPECT_EQ(kEventNames[kEventHalf2Released], "Global\\SyncDriverWaitEvent2");
}

TEST(DriverProtocol, MappingOfATwoByOneWallOf1080pMonitors) {
    const auto layout = LayoutFor({3840, 1080, 2, 1});
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->size, 33'177'656u);
    EXPECT_EQ(layout->half, 16'588'828u);
    EXPECT_EQ(layout->stride, 8'294'412u);
    EXPECT_EQ(layout->HalfOffset(1), 0u);
    EXPECT_EQ(layout->HalfOffset(2), 16'588'828u);
}

TEST(DriverProtocol, GeometriesWithoutARepresentableBlockAreRefused) {
    EXPECT_FALSE(LayoutFor({0, 1080, 1, 1}));
    EXPECT_FALSE(LayoutFor({1920, 1080, 0, 1}));
    EXPECT_FALSE(LayoutFor({65536, 65536, 1, 1}));  // beyond 32 bits
    EXPECT_FALSE(LayoutFor({4, 4, 2, 2}));          // a slot cannot hold a packet header
}

class FrameSlotTest : public ::testing::Test {
protected:
    // A 2 x 2 wall of small monitors: stride 12 + 4 * 64 * 36 = 9228.
    ShareLayout layout = *LayoutFor({128, 72, 2, 2});
    Bytes half = Bytes(layout.half, 0);

    void PutSlotHeader(std::uint32_t index, std::uint32_t used) {
        bytes::PutU32(half, kHalfOffSlots + index * layout.stride, used);
    }
};

TEST_F(FrameSlotTest, WrittenSlotsReadBack) {
    ASSERT_EQ(layout.stride, 9228u);
    Bytes packet(100, 0xAB);
    ASSERT_TRUE(WriteFrameSlot(half, layout, 3, 1, 1, packet));
    ASSERT_TRUE(WriteSlotCount(half, layout, 4));
    std::uint16_t n = 0;
    ASSERT_EQ(ReadSlotCount(half, layout, n), SlotCheck::kOk);
    EXPECT_EQ(n, 4);

    FrameSlot slot;
    EXPECT_EQ(ReadFrameSlot(half, layout, 0, slot), SlotCheck::kEmpty);
    ASSERT_EQ(ReadFrameSlot(half, layout, 3, slot), SlotCheck::kOk);
    EXPECT_EQ(slot.used, 112u);
    EXPECT_EQ(slot.column, 1u);
    EXPECT_EQ(slot.row, 1u);
    EXPECT_EQ(Bytes(slot.packet.begin(), slot.packet.end()), packet);
    // The packet view starts right after the slot header, inside the half.
    EXPECT_EQ(slot.packet.data(), half.data() + kHalfOffSlots + 3 * layout.stride + 12);
}

TEST_F(FrameSlotTest, HostileSlotsAreRefusedWithAReason) {
    FrameSlot slot;
    PutSlotHeader(0, layout.stride + 1);
    EXPECT_EQ(ReadFrameSlot(half, layout, 0, slot), SlotCheck::kBeyondStride);
    PutSlotHeader(0, 0xFFFFFFFF);
    EXPECT_EQ(ReadFrameSlot(half, layout, 0, slot), SlotCheck::kBeyondStride);
    PutSlotHeader(1, kSlotHeaderSize + kPacketHeaderSize - 1);  // no room for the frame index
    EXPECT_EQ(ReadFrameSlot(half, layout, 1, slot), SlotCheck::kShorterThanHeader);
    PutSlotHeader(2, layout.stride);  // the whole slot is a valid length
    EXPECT_EQ(ReadFrameSlot(half, layout, 2, slot), SlotCheck::kOk);
    EXPECT_EQ(ReadFrameSlot(half, layout, 4, slot), SlotCheck::kCountBeyondHalf);
    EXPECT_TRUE(slot.packet.empty());
    EXPECT_FALSE(WriteFrameSlot(half, layout, 0, 0, 0, Bytes(layout.stride - 11)));
    EXPECT_FALSE(WriteFrameSlot(half, layout, 0, 0, 0, Bytes(47)));
}

TEST_F(FrameSlotTest, SlotCountsBeyondTheHalfAreRefused) {
    std::uint16_t n = 7;
    bytes::PutU16(half, kHalfOffCount, 5);
    EXPECT_EQ(ReadSlotCount(half, layout, n), SlotCheck::kCountBeyondHalf);
    EXPECT_EQ(n, 0);
    bytes::PutU16(half, kHalfOffCount, 0xFFFF);
    EXPECT_EQ(ReadSlotCount(half, layout, n), SlotCheck::kCountBeyondHalf);
    EXPECT_EQ(ReadSlotCount(bytes::ConstBytes(half).first(3), layout, n),
              SlotCheck::kCountBeyondHalf);
    EXPECT_FALSE(WriteSlotCount(half, layout, 5));
}

TEST(DriverProtocolLargeSlots, PacketsBeyondTheAdapterBufferAreRefused) {
    // 1 x 1 wall of 1920 x 1080: the stride (8 MB) holds more than 3 MiB.
    const ShareLayout layout = *LayoutFor({1920, 1080, 1, 1});
    Bytes half(layout.half, 0);
    FrameSlot slot;
    bytes::PutU32(half, kHalfOffSlots, kSlotHeaderSize + kMaxPacketSize + 1);
    EXPECT_EQ(ReadFrameSlot(half, layout, 0, slot), SlotCheck::kPacketTooLong);
    bytes::PutU32(half, kHalfOffSlots, kSlotHeaderSize + kMaxPacketSize);
    EXPECT_EQ(ReadFrameSlot(half, layout, 0, slot), SlotCheck::kOk);
}

}  // namespace
}  // namespace orv::driver
