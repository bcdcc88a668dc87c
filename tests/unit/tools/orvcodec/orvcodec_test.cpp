// The orvcodec command line, run in-process on files in a private folder.
#include "tools/orvcodec/orvcodec.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/png/png_io.h"
#include "protocol/adapter/frame_packet.h"
#include "tests/support/temp_dir.h"

namespace {

class Orvcodec : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    int Run(std::vector<std::string> args) {
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        out_.str("");
        err_.str("");
        return orv::orvcodec::Run(argv, out_, err_);
    }

    // A 2 x 1 PNG, RGBA or RGB.
    void WriteSmallPng(const std::string& path, bool alpha) {
        png_image png;
        std::memset(&png, 0, sizeof png);
        png.version = PNG_IMAGE_VERSION;
        png.width = 2;
        png.height = 1;
        png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
        const std::uint8_t rgba[] = {10, 20, 30, 40, 50, 60, 70, 80};
        const std::uint8_t rgb[] = {10, 20, 30, 50, 60, 70};
        ASSERT_NE(png_image_write_to_file(&png, path.c_str(), 0, alpha ? rgba : rgb, 0, nullptr),
                  0);
    }

    orv::test::TempDir tmp_;
    const std::string dir_ = tmp_.Path();
    std::ostringstream out_;
    std::ostringstream err_;
};

}  // namespace

TEST_F(Orvcodec, PngAlphaBecomesX) {
    for (bool alpha : {true, false}) {
        WriteSmallPng(Path("small.png"), alpha);
        orv::png::Image image;
        std::string error;
        ASSERT_TRUE(orv::png::ReadPng(Path("small.png"), image, error)) << error;
        const std::vector<std::uint8_t> expected =
            alpha ? std::vector<std::uint8_t>{30, 20, 10, 40, 70, 60, 50, 80}
                  : std::vector<std::uint8_t>{30, 20, 10, 0xFF, 70, 60, 50, 0xFF};
        EXPECT_EQ(image.bgrx, expected) << alpha;
    }
    orv::png::Image image;
    std::string error;
    EXPECT_FALSE(orv::png::ReadPng(Path("missing.png"), image, error));
    EXPECT_FALSE(error.empty());
}

// 8962 x 458753 pixels in 57 bytes: the size is refused from the header,
// before anything is allocated for it (in 32 bits it would wrap to 3.5 GB).
TEST_F(Orvcodec, PngWithAnOversizedHeaderIsRefusedBeforeAllocating) {
    const std::uint8_t file[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
        0x52, 0x00, 0x00, 0x23, 0x02, 0x00, 0x07, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x6E,
        0xFB, 0x08, 0x12, 0x00, 0x00, 0x00, 0x00, 0x49, 0x44, 0x41, 0x54, 0x35, 0xAF, 0x06, 0x1E,
        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    std::ofstream(Path("huge.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file), sizeof file);
    orv::png::Image image;
    std::string error;
    EXPECT_FALSE(orv::png::ReadPng(Path("huge.png"), image, error));
    EXPECT_NE(error.find("8962x458753"), std::string::npos) << error;
    EXPECT_TRUE(image.bgrx.empty());
}

TEST_F(Orvcodec, EncodePacketThenInfoAndDecode) {
    WriteSmallPng(Path("in.png"), false);
    ASSERT_EQ(
        Run({"encode", "--code", "227", "--png", Path("in.png"), "--packet", "-o", Path("p.bin")}),
        0)
        << err_.str();
    ASSERT_EQ(Run({"info", Path("p.bin")}), 0) << err_.str();
    const std::string info = out_.str();
    EXPECT_NE(info.find("codec_type=4\n"), std::string::npos) << info;
    EXPECT_NE(info.find("height=1\nwidth=2\n"), std::string::npos) << info;
    EXPECT_EQ(std::filesystem::file_size(Path("p.bin")),
              orv::adapter::PacketLength(
                  48 + std::stoul(info.substr(info.find("picture_length=") + 15))));

    ASSERT_EQ(Run({"decode", Path("p.bin"), "-o", Path("out.png")}), 0) << err_.str();
    orv::png::Image image;
    std::string error;
    ASSERT_TRUE(orv::png::ReadPng(Path("out.png"), image, error)) << error;
    EXPECT_EQ(image.bgrx, (std::vector<std::uint8_t>{30, 20, 10, 0xFF, 70, 60, 50, 0xFF}));
}

TEST_F(Orvcodec, BadUsageIsRefused) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.str().find("orvcodec encode"), std::string::npos);
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"transcode"}), 2);
    EXPECT_EQ(Run({"encode", "--code", "227", "--pattern", "noise", "--size", "4x4"}), 2);
    EXPECT_EQ(
        Run({"encode", "--code", "x", "--pattern", "noise", "--size", "4x4", "-o", Path("a")}), 2);
    EXPECT_EQ(
        Run({"encode", "--code", "1", "--pattern", "noise", "--size", "4x4", "-o", Path("a")}), 1);
    EXPECT_EQ(
        Run({"encode", "--code", "227", "--pattern", "plaid", "--size", "4x4", "-o", Path("a")}),
        1);
    EXPECT_EQ(
        Run({"encode", "--code", "227", "--pattern", "noise", "--size", "0x4", "-o", Path("a")}),
        1);
    std::ofstream(Path("short.bin")) << "abc";
    EXPECT_EQ(Run({"info", Path("short.bin")}), 1);
    EXPECT_EQ(Run({"decode", Path("short.bin"), "-o", Path("x.png")}), 1);
}
