// The firmware check and update against a fake adapter that keeps a serial
// ROM in memory, checked by the ROM contents, the requests on the wire and
// the lines left in the service log.
#include "service/firmware/firmware_updater.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/service_log_root.h"
#include "tools/orvfwtool/sample_images.h"

using namespace orv::adapter;
using orv::firmware::COvwFirmwareUpdater;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kRomSize = 0x100000;

// An adapter as the updater sees it: answers version and layout queries and
// type-7 reads and writes on its ROM; the Nth write can be made to fail.
class FakeAdapter : public orv::link::COvwCommBase {
public:
    struct Request {
        std::uint8_t type, op;
        std::uint32_t address, length, packetSize;
    };

    FakeAdapter() : rom(kRomSize, 0xFF) {
        // The simulator's default layout over 1 MiB: boot loaders 60 KiB,
        // firmware 0 124 KiB, two main slots of 372 KiB from 0x8000 up.
        const std::uint32_t sizes[] = {0xF000, 0xF000, 0x1F000, 0x5D000, 0x5D000};
        std::uint32_t address = 0x8000;
        info.SetIdentity("ADAPTER-TEST-0001");
        info.SetActiveSlot(1);
        for (std::size_t i = 0; i < kSromRegionCount; ++i) {
            info.SetRegion(i, {address, sizes[i], 0, 0});
            address += sizes[i];
        }
        PutInfo(info);
    }

    void PutInfo(const SromInfo& i) {
        const auto raw = i.Build();
        std::copy(raw.begin(), raw.end(), rom.begin() + kSromInfoAddress);
        std::copy(raw.begin(), raw.end(), rom.begin() + kSromInfoBackupAddress);
    }
    SromInfo InfoAt(std::uint32_t address) const {
        return *SromInfo::Parse(orv::bytes::Slice(rom, address, kSromInfoSize));
    }
    std::vector<std::uint8_t> RomAt(std::uint32_t address, std::size_t size) const {
        return {rom.begin() + address, rom.begin() + address + size};
    }
    std::vector<Request> Writes() const {
        std::vector<Request> out;
        for (const Request& r : requests)
            if (r.type == type::kSerialRom && r.op == kSromWrite) out.push_back(r);
        return out;
    }

    int Connect(const std::string&) override { return 0; }
    int Disconnect() override { return 0; }
    int Read(std::uint8_t, std::uint8_t*, std::uint32_t&) override { return -1; }
    int Write(std::uint8_t, std::uint8_t*, std::uint32_t&) override { return -1; }
    int Transact(std::uint8_t outPipe, std::uint8_t* request, std::uint32_t& requestLength,
                 std::uint8_t inPipe, std::uint8_t* reply, std::uint32_t& replyLength) override {
        const orv::bytes::ConstBytes p(request, requestLength);
        std::uint32_t lengthField = 0;
        orv::bytes::GetU32(p, kOffLength, lengthField);
        EXPECT_TRUE(outPipe == kPipeOutCommands && inPipe == kPipeInReply && HasMagic(p));
        EXPECT_EQ(lengthField, requestLength);
        EXPECT_NE(requestLength % 512, 0u);
        Request r{p[kOffDataType], p[kOffSromOp], 0, 0, requestLength};
        orv::bytes::GetU32(p, kOffSromAddress, r.address);
        orv::bytes::GetU32(p, kOffSromLength, r.length);
        requests.push_back(r);

        Packet answer;
        if (r.type == type::kVersionQuery) {
            answer =
                r.op == kVersionFirmware ? BuildVersionReply(version) : BuildLayoutReply(layout);
        } else if (r.type == type::kSerialRom && r.op == kSromRead) {
            const auto data = orv::bytes::Slice(rom, r.address, r.length);
            answer = BuildSromReply(kSromRead, r.address, !data.empty(), data);
        } else if (r.type == type::kSerialRom) {
            const auto data = orv::bytes::Slice(p, kOffSromData, r.length);
            const bool ok = ++writes != failWrite && !data.empty() &&
                            orv::bytes::PutBytes(rom, r.address, data);
            answer = BuildSromReply(kSromWrite, r.address, ok, {});
        }
        if (cutRepliesTo != 0) answer.resize(std::min<std::size_t>(answer.size(), cutRepliesTo));
        replyLength = static_cast<std::uint32_t>(std::min<std::size_t>(replyLength, answer.size()));
        std::copy_n(answer.begin(), replyLength, reply);
        return linkResult;
    }

    std::vector<std::uint8_t> rom;
    SromInfo info;
    std::string version = "v 00.00.1400.0001";
    std::uint32_t layout = 1;
    int linkResult = 0;
    int writes = 0;
    int failWrite = 0;  // 1-based; 0 never
    std::size_t cutRepliesTo = 0;
    std::vector<Request> requests;
};

class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        images_ = root_.Path() + "/fw/";
        std::string error;
        ASSERT_TRUE(orv::fwtool::MakeImages(images_, "00.00.1400.0001", 1, &error)) << error;
        SetRegistry("00.00.1400.0001", "1");
    }

    void SetRegistry(const std::string& version, const std::string& layout,
                     const std::string& pathLine = "") {
        registry_ = orv::platform::Registry::Parse(
            "[Software\\ORVVideoWallInfo]\n" +
            (pathLine.empty() ? "ORVFirmwarePath=REG_SZ:" + images_ + "USBDisplay.bin" : pathLine) +
            "\nFirmwareVersion=REG_SZ:" + version + "\nLayoutVersion=REG_SZ:" + layout + "\n");
    }

    std::vector<std::uint8_t> Image(std::string_view file) {
        std::ifstream in(images_ + std::string(file), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::vector<std::string> Lines() const { return root_.Lines(); }
    bool Logged(const std::string& line) {
        const auto lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    int Check() {
        COvwFirmwareUpdater updater(adapter_, registry_);
        return updater.CheckFirmware(versionText_);
    }

    orv::test::ServiceLogRoot root_;
    std::string images_, versionText_;
    orv::platform::Registry registry_;
    FakeAdapter adapter_;
};

}  // namespace

TEST(FirmwareVersions, ComparedPerComponentWithoutReadingPastEitherString) {
    using orv::firmware::VersionsEqual;
    EXPECT_TRUE(VersionsEqual("v 00.00.1400.0001", "00.00.1400.0001"));
    EXPECT_TRUE(VersionsEqual("v 00.00.1400.0001", "00.00.1400.1"));
    // Walked in step, not parsed: narrower components shift the positions.
    EXPECT_FALSE(VersionsEqual("v 00.00.1400.0001", "0.0.1400.1"));
    EXPECT_FALSE(VersionsEqual("v 00.00.1400.0002", "00.00.1400.0001"));
    EXPECT_FALSE(VersionsEqual("v 00.00.1400.0001", "00.00.1400.0002"));
    EXPECT_FALSE(VersionsEqual("v 00.00.1400.0001", ""));
    EXPECT_TRUE(VersionsEqual("v 00.00.0000.0000", ""));  // unreadable compares as 0
    // Extra registry digits are another version, not ignored.
    EXPECT_FALSE(VersionsEqual("v 00.00.1400.0001", "00.00.1400.00010"));
    // Exactly sized heap buffers without terminator: a read past either end
    // is caught by AddressSanitizer.
    const std::string_view a = "v 00.00.1400.0001", r = "00.00.14";
    auto ab = std::make_unique<char[]>(a.size()), rb = std::make_unique<char[]>(r.size());
    std::copy(a.begin(), a.end(), ab.get());
    std::copy(r.begin(), r.end(), rb.get());
    EXPECT_FALSE(VersionsEqual({ab.get(), a.size()}, {rb.get(), r.size()}));
}

TEST_F(FirmwareTest, OtherProductLineOrFailedQueryIsRefused) {
    adapter_.version = "v 00.00.1399.0001";
    EXPECT_EQ(Check(), 1);
    EXPECT_TRUE(Logged("FW version is not valid, not support current host software."));
    adapter_.version = "v 00.00";
    EXPECT_EQ(Check(), 1);
    adapter_.version = "v 00.00.1400.0001";
    adapter_.linkResult = 121;
    EXPECT_EQ(Check(), 1);
    EXPECT_TRUE(versionText_.empty());
    EXPECT_TRUE(adapter_.Writes().empty());
}

TEST_F(FirmwareTest, EqualVersionIsNotUpdated) {
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(versionText_, "v 00.00.1400.0001");
    EXPECT_EQ(Lines(), std::vector<std::string>{
                           " FW version is latest, version number is: v 00.00.1400.0001."});
    EXPECT_EQ(adapter_.requests.size(), 1u);
}

TEST_F(FirmwareTest, FirmwareOnlyUpdateGoesToTheInactiveSlotInChunks) {
    adapter_.version = "v 00.00.1400.0002";  // newer than installed: rewritten too
    EXPECT_EQ(Check(), 0);
    const auto image = Image("USBDisplay.bin");
    const SromInfo after = adapter_.InfoAt(kSromInfoAddress);
    EXPECT_TRUE(after.ChecksumValid());
    EXPECT_EQ(after.Bytes(), adapter_.InfoAt(kSromInfoBackupAddress).Bytes());
    EXPECT_EQ(after.ActiveSlot(), 2);
    const SromRegion slot2 = after.Region(kRegionMainSlot2);
    EXPECT_EQ(slot2.writtenSize, image.size());
    EXPECT_EQ(slot2.checksum, ImageChecksum(image));
    EXPECT_EQ(adapter_.RomAt(slot2.address, image.size()), image);
    EXPECT_EQ(after.Region(kRegionMainSlot1), adapter_.info.Region(kRegionMainSlot1));
    EXPECT_EQ(after.Identity(), "ADAPTER-TEST-0001");

    // Chunks of 4,096 bytes at advancing addresses, then both SromInfo copies.
    const auto writes = adapter_.Writes();
    const std::size_t chunks = (image.size() + 4095) / 4096;
    ASSERT_EQ(writes.size(), chunks + 2);
    for (std::size_t i = 0; i < chunks; ++i) {
        EXPECT_EQ(writes[i].address, slot2.address + i * 4096);
        EXPECT_EQ(writes[i].length, std::min<std::size_t>(4096, image.size() - i * 4096));
    }
    EXPECT_EQ(writes[chunks].address, kSromInfoAddress);
    EXPECT_EQ(writes[chunks].packetSize, 276u);
    EXPECT_EQ(writes[chunks + 1].address, kSromInfoBackupAddress);

    const auto lines = Lines();
    EXPECT_EQ(
        std::vector<std::string>(lines.begin(), lines.begin() + 4),
        (std::vector<std::string>{
            "- Query version,GetAndCompareLayoutVersion:Begin -", "Currnet fw layout version: 1.",
            "+ FW version is old, version number is: v 00.00.1400.0002, it will be update in "
            "the background +",
            "++COvwAdapter::UpdateFWOnly()++"}));
    EXPECT_EQ(lines.back(), "--COvwAdapter::UpdateFWOnly(), result=1.--");

    // The next one goes back to region 3.
    COvwFirmwareUpdater updater(adapter_, registry_);
    EXPECT_TRUE(updater.UpdateFWOnly());
    const SromInfo next = adapter_.InfoAt(kSromInfoBackupAddress);
    EXPECT_EQ(next.ActiveSlot(), 1);
    EXPECT_EQ(adapter_.RomAt(next.Region(kRegionMainSlot1).address, image.size()), image);
}

TEST_F(FirmwareTest, LayoutChangeRewritesAllFourRegions) {
    adapter_.version = "v 00.00.1400.0000";
    SetRegistry("00.00.1400.0001", "2");
    adapter_.info.SetActiveSlot(2);
    adapter_.PutInfo(adapter_.info);
    EXPECT_EQ(Check(), 0);
    EXPECT_TRUE(Logged("Firmware full update successful."));

    const SromInfo after = adapter_.InfoAt(kSromInfoAddress);
    EXPECT_TRUE(after.ChecksumValid());
    EXPECT_EQ(after.Bytes(), adapter_.InfoAt(kSromInfoBackupAddress).Bytes());
    EXPECT_EQ(after.ActiveSlot(), 1);
    std::size_t region = 0;
    for (std::string_view file :
         {"Bootloader0.bin", "Bootloader1.bin", "Firmware0.bin", "USBDisplay.bin"}) {
        const auto image = Image(file);
        const SromRegion r = after.Region(region++);
        EXPECT_EQ(r.writtenSize, image.size()) << file;
        EXPECT_EQ(r.checksum, ImageChecksum(image)) << file;
        EXPECT_EQ(adapter_.RomAt(r.address, image.size()), image) << file;
    }
    // Boot loaders in one write each; Firmware0's last chunk is 464 bytes,
    // sent as a 513-byte packet.
    const auto writes = adapter_.Writes();
    EXPECT_EQ(writes[0].length, Image("Bootloader0.bin").size());
    EXPECT_EQ(writes[1].length, Image("Bootloader1.bin").size());
    EXPECT_EQ(writes[1 + 15].length, 464u);
    EXPECT_EQ(writes[1 + 15].packetSize, 513u);
    EXPECT_EQ(writes.back().address, kSromInfoBackupAddress);
}

TEST_F(FirmwareTest, OversizedBootLoaderStopsFullUpdateBeforeAnyWrite) {
    SetRegistry("00.00.1400.0002", "2");
    SromRegion bl0 = adapter_.info.Region(kRegionBootLoader0);
    bl0.reservedSize = 0x1000;
    adapter_.info.SetRegion(kRegionBootLoader0, bl0);
    adapter_.PutInfo(adapter_.info);
    EXPECT_EQ(Check(), 0);
    EXPECT_TRUE(adapter_.Writes().empty());
    const auto lines = Lines();
    const std::vector<std::string> tail(lines.end() - 4, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"++COvwAdapter::CheckSROMLayout()++",
                                              "BL0 binary size more than SROM reserved BL0 size.",
                                              "--COvwAdapter::CheckSROMLayout()--",
                                              "Firmware full update failure."}));
}

TEST_F(FirmwareTest, FailedWriteLeavesThePreviousSlotAndSromInfo) {
    const auto before = adapter_.RomAt(0, 0x8000);
    adapter_.failWrite = 10;  // a chunk in the middle of USBDisplay.bin
    COvwFirmwareUpdater updater(adapter_, registry_);
    EXPECT_FALSE(updater.UpdateFWOnly());
    EXPECT_EQ(adapter_.writes, 10);
    EXPECT_EQ(adapter_.RomAt(0, 0x8000), before);
    EXPECT_EQ(Lines().back(), "--COvwAdapter::UpdateFWOnly(), result=0.--");

    adapter_.writes = 0;
    adapter_.failWrite = 3;  // the first chunk of Firmware0.bin
    EXPECT_FALSE(updater.FullUpdate());
    EXPECT_EQ(adapter_.RomAt(0, 0x8000), before);
    const auto lines = Lines();
    EXPECT_EQ(lines.back(), "--COvwAdapter::UpdateFw0(), result=0--");
}

TEST_F(FirmwareTest, UntrustworthyRegionsImagesAndSromInfoAreRefused) {
    COvwFirmwareUpdater updater(adapter_, registry_);
    SromInfo info = adapter_.info;
    // Slot 2 laid over the SromInfo copy at 0x6000, or wrapping 32 bits.
    info.SetRegion(kRegionMainSlot2, {0x5000, 0x40000, 0, 0});
    adapter_.PutInfo(info);
    EXPECT_FALSE(updater.UpdateFWOnly());
    info.SetRegion(kRegionMainSlot2, {0xFFFF0000u, 0x40000, 0, 0});
    adapter_.PutInfo(info);
    EXPECT_FALSE(updater.UpdateFWOnly());
    EXPECT_TRUE(Logged("SROM region at 0xFFFF0000 with reserved size 0x40000 is not usable."));
    // A boot loader whose one packet would exceed the 1 MiB transfer buffer
    // (1 MiB - 48 bytes of data makes 1 MiB, sent as 1 MiB + 1).
    info.SetRegion(kRegionBootLoader0, {0x100000, 0x200000, 0, 0});
    fs::resize_file(images_ + "Bootloader0.bin", 1024 * 1024 - 48);
    EXPECT_FALSE(updater.CheckSROMLayout(images_, info));
    EXPECT_TRUE(
        Logged("Firmware binary size 1048528 more than the transfer buffer takes (1048527)."));
    EXPECT_TRUE(adapter_.Writes().empty());

    // A short reply or a broken checksum gives no SromInfo, so no update
    // (not even of an empty image, which would fit the cleared structure).
    adapter_.PutInfo(adapter_.info);
    adapter_.cutRepliesTo = 200;
    EXPECT_FALSE(updater.ReadSROMInfo(info));
    EXPECT_EQ(info.Bytes(), SromInfo().Bytes());
    adapter_.cutRepliesTo = 0;
    adapter_.rom[kSromInfoAddress + 100] ^= 1;
    fs::resize_file(images_ + "USBDisplay.bin", 0);
    EXPECT_FALSE(updater.UpdateFWOnly());
    EXPECT_TRUE(Logged("SROM INFO Structure checksum error."));
    EXPECT_TRUE(adapter_.Writes().empty());
}

TEST_F(FirmwareTest, MissingPathOrImagesFailWithTheirLines) {
    SetRegistry("00.00.1400.0001", "1", "Other=REG_SZ:x");
    COvwFirmwareUpdater updater(adapter_, registry_);
    EXPECT_FALSE(updater.UpdateFWOnly());
    EXPECT_TRUE(Logged("Failed to get firmware path."));
    EXPECT_FALSE(updater.FullUpdate());
    EXPECT_TRUE(Logged("Failed to get binary path."));

    // The path from the 32-bit view's key; a missing boot loader.
    registry_ = orv::platform::Registry::Parse(
        "[Software\\Wow6432Node\\ORVVideoWallInfo]\nORVFirmwarePath=REG_SZ:" + images_ +
        "USBDisplay.bin\n");
    fs::remove(images_ + "Bootloader1.bin");
    COvwFirmwareUpdater wow(adapter_, registry_);
    EXPECT_FALSE(wow.FullUpdate());
    EXPECT_TRUE(Logged("Failed to open BL1."));
    EXPECT_TRUE(wow.UpdateFWOnly());
    EXPECT_FALSE(wow.GetAndCompareLayoutVersion());  // no LayoutVersion value
}
