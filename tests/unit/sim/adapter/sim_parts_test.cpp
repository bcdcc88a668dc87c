// The simulator's pure parts: EDIDs, configuration, serial-ROM file, picture
// checks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "protocol/adapter/packet_header.h"
#include "sim/adapter/edid.h"
#include "sim/adapter/frame_decode.h"
#include "sim/adapter/serial_rom.h"
#include "sim/adapter/sim_config.h"

using namespace orv;
using namespace orv::sim;
namespace fs = std::filesystem;

namespace {

std::string TempDir() {
    char tmpl[] = "/tmp/orv-sim-parts-XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
}

}  // namespace

TEST(SimEdid, GeneratedEdidsAreValidAndCarryTheirMode) {
    for (std::size_t size : {128u, 256u}) {
        EdidParams p;
        p.size = size;
        p.width = 3840;
        p.height = 2160;
        p.name = "WALL LEFT";
        const auto edid = GenerateEdid(p);
        EXPECT_EQ(edid.size(), size);
        EXPECT_EQ(EdidProblem(edid), "");
        EXPECT_EQ(EdidPreferredMode(edid),
                  std::make_pair(std::uint16_t{3840}, std::uint16_t{2160}));
        const std::string text(edid.begin(), edid.end());
        EXPECT_NE(text.find("WALL LEFT\n"), std::string::npos);
        EXPECT_NE(text.find("SIM1\n"), std::string::npos);
    }
}

TEST(SimEdid, HexFilesAreReadAndCheckedStrictly) {
    const std::string dir = TempDir();
    const auto edid = GenerateEdid({});
    std::string hex;
    char buf[4];
    for (std::size_t i = 0; i < edid.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", edid[i]);
        hex += buf;
        hex += (i % 16 == 15) ? "\n" : " ";
    }
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    };
    std::string error;
    auto loaded = LoadEdidHex(write("good.hex", hex), &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(*loaded, edid);
    std::string broken = hex;
    broken[0] = '1';  // first byte 0x10: header and checksum both wrong
    EXPECT_FALSE(LoadEdidHex(write("bad.hex", broken), &error));
    EXPECT_FALSE(LoadEdidHex(write("short.hex", hex.substr(0, 300)), &error));
    EXPECT_FALSE(LoadEdidHex(write("text.hex", "hello"), &error));
    EXPECT_FALSE(LoadEdidHex(dir + "/missing.hex", &error));
    EXPECT_NE(error.find("missing.hex"), std::string::npos);
    fs::remove_all(dir);
}

TEST(SimConfigParsing, JsonAndCommandLine) {
    const char* json = R"({
      "bus": "/x/usb", "rom_dir": "/x/rom",
      "adapters": [
        {"name": "left", "identity": "LEFT-ADAPTER", "ack_delay_ms": 5,
         "descriptor": "two-endpoints", "caps": "01 02 03",
         "monitors": [{"port": 4, "width": 1280, "height": 720, "edid_size": 128},
                      {"port": 1, "plugged": false}]},
        {"descriptor": [{"setting": 0, "endpoints": [2, 130]}, {"setting": 1, "endpoints": [1, 2, 129, 130]}]}
      ]})";
    std::string error;
    auto c = ParseConfigJson(json, &error);
    ASSERT_TRUE(c) << error;
    ASSERT_TRUE(FinishConfig(*c, &error)) << error;
    ASSERT_EQ(c->adapters.size(), 2u);
    const AdapterConfig& left = c->adapters[0];
    EXPECT_EQ(left.ackDelayMs, 5u);
    EXPECT_EQ(left.caps, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(left.descriptor[0].endpoints.size(), 2u);
    EXPECT_EQ(left.monitors[0].port, 0x04);
    EXPECT_FALSE(left.monitors[1].plugged);
    EXPECT_EQ(left.romFile, "/x/rom/left.srom");
    EXPECT_EQ(c->adapters[1].name, "adapter1");
    EXPECT_EQ(c->adapters[1].identity.size(), 24u);
    EXPECT_EQ(c->adapters[1].descriptor[1].alternateSetting, 1);

    EXPECT_FALSE(ParseConfigJson(R"({"adapters": [{"monitors": [{"port": 3}]}]})", &error));
    EXPECT_FALSE(ParseConfigJson("{not json", &error));
    auto twice = ParseConfigJson(R"({"adapters": [{"name": "a"}, {"name": "a"}]})", &error);
    EXPECT_FALSE(FinishConfig(*twice, &error));
    auto quiet = ParseConfigJson(R"({"adapters": [{"keepalive_ms": 2500}]})", &error);
    EXPECT_FALSE(FinishConfig(*quiet, &error));  // the host would drop the link

    const char* args[] = {"orv-adapter-sim",
                          "--bus",
                          "/b",
                          "--rom-dir",
                          "/r",
                          "--adapters",
                          "3",
                          "--monitors",
                          "3",
                          "--ack-delay",
                          "20",
                          "--descriptor",
                          "second-setting"};
    CommandLine cl = ParseCommandLine(static_cast<int>(std::size(args)), args);
    ASSERT_TRUE(cl.config) << cl.message;
    ASSERT_EQ(cl.config->adapters.size(), 3u);
    EXPECT_EQ(cl.config->adapters[2].monitors.size(), 3u);
    EXPECT_EQ(cl.config->adapters[2].monitors[2].port, 0x02);
    EXPECT_EQ(cl.config->adapters[0].ackDelayMs, 20u);
    EXPECT_EQ(cl.config->adapters[0].descriptor.size(), 2u);

    const char* help[] = {"orv-adapter-sim", "--help"};
    cl = ParseCommandLine(2, help);
    EXPECT_FALSE(cl.config);
    EXPECT_EQ(cl.exitCode, 0);
    EXPECT_NE(cl.message.find("--control SOCKET"), std::string::npos);
    const char* bad[] = {"orv-adapter-sim", "--monitors", "9"};
    cl = ParseCommandLine(3, bad);
    EXPECT_FALSE(cl.config);
    EXPECT_EQ(cl.exitCode, 2);
}

// A number is taken only when it is a whole number inside the range of its
// field; anything else names the key, and a number never wraps into range.
TEST(SimConfigParsing, NumbersOfTheWrongKindOrRangeAreErrorsNamingTheKey) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"adapters": [{"keepalive_ms": 1e20}]})", "keepalive_ms"},
        {R"({"adapters": [{"keepalive_ms": 4294967297}]})", "keepalive_ms"},
        {R"({"adapters": [{"keepalive_ms": -1}]})", "keepalive_ms"},
        {R"({"adapters": [{"keepalive_ms": 2.5}]})", "keepalive_ms"},
        {R"({"adapters": [{"keepalive_ms": "50"}]})", "keepalive_ms"},
        {R"({"adapters": [{"monitors": [{"width": 65537}]}]})", "width"},
        {R"({"adapters": [{"monitors": [{"plugged": 1}]}]})", "plugged"},
        {R"({"adapters": [{"descriptor": [{"setting": 256, "endpoints": []}]}]})", "setting"},
        {R"({"adapters": [{"name": 5}]})", "name"},
        {R"({"adapters": 5})", "adapters"},
        {R"({"adapters": [{"monitors": {"port": 4}}]})", "monitors"},
    };
    for (const auto& [json, key] : cases) {
        SCOPED_TRACE(json);
        std::string error;
        EXPECT_FALSE(ParseConfigJson(json, &error));
        EXPECT_NE(error.find(key), std::string::npos) << error;
    }
    std::string error;
    auto ok = ParseConfigJson(R"({"adapters": [{"keepalive_ms": 2000,
                                   "monitors": [{"width": 4095, "refresh": 255}]}]})",
                              &error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(ok->adapters[0].keepAliveMs, 2000u);
    EXPECT_EQ(ok->adapters[0].monitors[0].width, 4095u);
    EXPECT_EQ(ok->adapters[0].monitors[0].refresh, 255u);
}

TEST(SimSerialRom, NewRomHasBothInfoCopiesAndRegionsInsideIt) {
    const std::string dir = TempDir();
    std::string error;
    for (std::uint32_t size : {kMinRomSize, kDefaultRomSize}) {
        const std::string path = dir + "/rom" + std::to_string(size);
        auto rom = SerialRom::Open(path, size, "ID-1", &error);
        ASSERT_TRUE(rom) << error;
        EXPECT_EQ(fs::file_size(path), size);
        std::vector<std::uint8_t> a, b;
        ASSERT_TRUE(rom->Read(adapter::kSromInfoAddress, adapter::kSromInfoSize, a));
        ASSERT_TRUE(rom->Read(adapter::kSromInfoBackupAddress, adapter::kSromInfoSize, b));
        EXPECT_EQ(a, b);
        const auto info = rom->Info();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->Identity(), "ID-1");
        EXPECT_EQ(info->ActiveSlot(), 1);
        std::uint32_t end = adapter::kSromInfoAddress + adapter::kSromInfoSize;
        for (std::size_t r = 0; r < adapter::kSromRegionCount; ++r) {
            const auto region = info->Region(r);
            EXPECT_GE(region.address, end) << r;
            EXPECT_GT(region.reservedSize, 0u) << r;
            end = region.address + region.reservedSize;
        }
        EXPECT_LE(end, size);
        EXPECT_FALSE(rom->Write(size - 1, std::vector<std::uint8_t>(2)));
        EXPECT_FALSE(rom->Read(0xFFFFFFF0, 0x20, a));
        EXPECT_FALSE(rom->FirmwareVersionTag());  // nothing written yet
    }
    // An existing file wins over the configuration.
    auto again = SerialRom::Open(dir + "/rom" + std::to_string(kMinRomSize), kDefaultRomSize,
                                 "OTHER", &error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Size(), kMinRomSize);
    EXPECT_EQ(again->Info()->Identity(), "ID-1");
    EXPECT_FALSE(SerialRom::Open(dir + "/tiny", 0x100, "X", &error));
    fs::remove_all(dir);
}

TEST(SimFrameDecode, CodecHeaderIsCheckedAgainstPictureAndScreen) {
    MonitorPicture m;
    m.width = 64;
    m.height = 32;
    auto picture = [](std::uint32_t type, std::uint32_t x, std::uint32_t w, std::uint32_t h,
                      std::uint32_t part1, std::size_t size) {
        std::vector<std::uint8_t> p(size);
        bytes::ByteWriter wr(p);
        wr.U32(type);
        wr.U32(0);
        wr.U32(x);
        wr.U32(h);
        wr.U32(w);
        wr.U32(part1);
        return p;
    };
    std::string error;
    EXPECT_TRUE(DecodeFramePicture(m, 0x101, picture(0, 0, 8, 4, 128, 32 + 128), &error)) << error;
    EXPECT_EQ(m.backFrameIndex, 0x101u);
    EXPECT_TRUE(DecodeFramePicture(m, 0x201, {}, &error));  // empty picture: nothing to draw
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(0, 60, 8, 4, 128, 160), &error));  // off screen
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(8, 0, 8, 4, 500, 160), &error));  // parts overrun
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(0, 0, 8, 4, 100, 160), &error));  // raw size
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(3, 0, 8, 4, 10, 160), &error));   // codec type
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(0, 0, 0, 4, 0, 32), &error));     // empty rect
    EXPECT_FALSE(DecodeFramePicture(m, 1, std::vector<std::uint8_t>(20), &error));  // short header
    EXPECT_EQ(m.backFrameIndex, 0x101u);
    // Without decoding the checks still hold and the frame is recorded, but
    // the pixels stay.
    const std::vector<std::uint8_t> pixels = m.back;
    EXPECT_FALSE(DecodeFramePicture(m, 1, picture(0, 60, 8, 4, 128, 160), &error, false));
    std::vector<std::uint8_t> white = picture(0, 0, 8, 4, 128, 32 + 128);
    std::fill(white.begin() + 32, white.end(), 0xFF);
    EXPECT_TRUE(DecodeFramePicture(m, 0x301, white, &error, false)) << error;
    EXPECT_EQ(m.backFrameIndex, 0x301u);
    EXPECT_EQ(m.back, pixels);
    EXPECT_TRUE(DecodeFramePicture(m, 0x101, picture(0, 0, 8, 4, 128, 32 + 128), &error));
    ShowFrame(m);
    EXPECT_EQ(m.frontFrameIndex, 0x101u);
}

// The host sends frame N+1 before the show-frame command for N: each command
// shows its own frame's picture, never a later one.
TEST(SimFrameDecode, ShowFrameShowsThePictureOfItsOwnFrame) {
    MonitorPicture m;
    m.width = 2;
    m.height = 1;
    // A raw 2 x 1 picture in one grey level.
    auto grey = [](std::uint8_t level) {
        std::vector<std::uint8_t> p(adapter::kCodecHeaderSize + 8, level);
        bytes::ByteWriter wr(p);
        for (std::uint32_t v : {0u, 0u, 0u, 1u, 2u, 8u, 0u, 0u}) wr.U32(v);
        return p;
    };
    auto decode = [&](std::uint32_t number, std::uint8_t level) {
        std::string error;
        ASSERT_TRUE(DecodeFramePicture(m, (number << 8) | 1, grey(level), &error)) << error;
    };
    // Pictures are kept only for a host that sends show-frame commands.
    decode(1, 10);
    decode(2, 20);
    EXPECT_TRUE(m.unshown.empty());
    ShowFrame(m, 2);
    EXPECT_EQ(m.front[0], 20);
    decode(3, 30);
    decode(4, 40);
    decode(5, 50);
    ShowFrame(m, 3);
    EXPECT_EQ(m.frontFrameIndex, 0x301u);
    EXPECT_EQ(m.front[0], 30);
    ShowFrame(m, 4);
    EXPECT_EQ(m.front[0], 40);
    ShowFrame(m, 5);
    EXPECT_EQ(m.front[0], 50);
    EXPECT_TRUE(m.unshown.empty());

    // A show for a frame this monitor got no picture of shows the newest
    // earlier one; a show older than everything held changes nothing.
    decode(7, 70);
    decode(9, 90);
    ShowFrame(m, 8);
    EXPECT_EQ(m.front[0], 70);
    ShowFrame(m, 6);
    EXPECT_EQ(m.front[0], 70);
    ShowFrame(m, 9);
    EXPECT_EQ(m.front[0], 90);

    // Frame numbers wrap at 24 bits: frame 0 comes after 0xFFFFFF.
    decode(0xFFFFFF, 1);
    decode(0, 2);
    ShowFrame(m, 0xFFFFFF);
    EXPECT_EQ(m.front[0], 1);
    ShowFrame(m, 0);
    EXPECT_EQ(m.front[0], 2);

    // The host never keeps more frames in flight than the simulator keeps.
    for (std::uint32_t n = 10; n < 10 + 2 * kMaxUnshownPictures; ++n)
        decode(n, static_cast<std::uint8_t>(n));
    EXPECT_EQ(m.unshown.size(), kMaxUnshownPictures);
}
