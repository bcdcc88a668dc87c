#include "platform/profile.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "tests/support/test_util.h"

namespace orv::platform {
namespace {

using test::ForkChild;
using test::WaitChild;

class ProfileTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    Profile profile_{dir_.File("ORVVideoWallConfigFile.ini")};
};

TEST_F(ProfileTest, StringsAreFoundWithoutRegardToCase) {
    EXPECT_EQ(profile_.GetString("MONITOR_ID_CONTAINER", "Container", "none  "), "none");
    ASSERT_TRUE(profile_.WriteString("MONITOR_ID_CONTAINER", "Container", "0"));
    ASSERT_TRUE(profile_.WriteString("ABCDEFGHIJKLMNOPQRSTUVWX1", "Monitor_Id", "7"));
    ASSERT_TRUE(profile_.WriteString("monitor_id_container", "CONTAINER", "01"));
    EXPECT_EQ(profile_.GetString("Monitor_Id_Container", "container"), "01");
    EXPECT_EQ(profile_.GetString("abcdefghijklmnopqrstuvwx1", "MONITOR_ID"), "7");
    // Replaced in place, not added twice.
    EXPECT_EQ(
        test::ReadFile(profile_.Path()),
        "[MONITOR_ID_CONTAINER]\nCONTAINER=01\n\n[ABCDEFGHIJKLMNOPQRSTUVWX1]\nMonitor_Id=7\n");
}

TEST_F(ProfileTest, HandWrittenFilesAreReadLikeTheWindowsFunctionsReadThem) {
    test::WriteFile(profile_.Path(),
                    "stray=before any section\r\n"
                    "  [ Wall ]  \r\n"
                    "; a comment\r\n"
                    "  Name =  \"quoted value\"  \r\n"
                    "Empty=\r\n"
                    "[Second]\r\n"
                    "k=v\r\n");
    EXPECT_EQ(profile_.GetString("wall", "name"), "quoted value");
    EXPECT_EQ(profile_.GetString("Wall", "Empty", "default"), "");
    EXPECT_EQ(profile_.GetString("Wall", "stray", "default"), "default");
    EXPECT_EQ(profile_.SectionNames(), (std::vector<std::string>{"Wall", "Second"}));
    EXPECT_EQ(profile_.KeyNames("WALL"), (std::vector<std::string>{"Name", "Empty"}));
    // A write keeps the lines it does not understand.
    ASSERT_TRUE(profile_.WriteString("Wall", "Added", "1"));
    const std::string after = test::ReadFile(profile_.Path());
    EXPECT_NE(after.find("; a comment\n"), std::string::npos);
    EXPECT_NE(after.find("Empty=\nAdded=1\n[Second]"), std::string::npos) << after;
}

TEST_F(ProfileTest, BufferFormsTruncateAndCountLikeTheWindowsFunctions) {
    ASSERT_TRUE(profile_.WriteString("S1", "Key", "0123456789"));
    ASSERT_TRUE(profile_.WriteString("S1", "Other", "x"));
    ASSERT_TRUE(profile_.WriteString("Section2", "K", "v"));

    std::array<char, 6> small{};
    EXPECT_EQ(profile_.GetString("S1", "Key", "", small), 5u);
    EXPECT_STREQ(small.data(), "01234");
    std::array<char, 64> big{};
    EXPECT_EQ(profile_.GetString("S1", "Key", "", big), 10u);
    EXPECT_EQ(profile_.GetString("S1", "Key", "", std::span<char>()), 0u);

    // "S1\0Section2\0\0": 12 characters before the final NUL.
    EXPECT_EQ(profile_.GetSectionNames(big), 12u);
    EXPECT_EQ(std::string(big.data(), 13), std::string("S1\0Section2\0", 12) + '\0');
    std::array<char, 8> cut{};
    EXPECT_EQ(profile_.GetSectionNames(cut), 6u);  // size - 2 when cut
    EXPECT_EQ(std::string(cut.data(), 8), std::string("S1\0Sec\0\0", 8));
    EXPECT_EQ(profile_.GetKeyNames("s1", big), 10u);
    EXPECT_EQ(std::string(big.data(), 11), std::string("Key\0Other\0\0", 11));
}

// A name that ends exactly at the last usable byte leaves no room for the
// next one; the list is cut there and nothing past the buffer is written.
TEST_F(ProfileTest, ListCutAfterANameThatFillsTheBufferStaysInside) {
    std::array<char, 16> guarded{};
    auto expectCut = [&](std::size_t size, std::uint32_t (*list)(const Profile&, std::span<char>),
                         const std::string& expected) {
        guarded.fill('#');
        EXPECT_EQ(list(profile_, std::span<char>(guarded.data(), size)), size - 2);
        EXPECT_EQ(std::string(guarded.data(), size), expected);
        EXPECT_EQ(std::string(guarded.data() + size, guarded.size() - size),
                  std::string(guarded.size() - size, '#'));
    };
    test::WriteFile(profile_.Path(), "[A]\n[B]\n");
    expectCut(
        3, [](const Profile& p, std::span<char> b) { return p.GetSectionNames(b); },
        std::string("A\0\0", 3));
    test::WriteFile(profile_.Path(), "[S]\nab=1\nc=2\n");
    expectCut(
        4, [](const Profile& p, std::span<char> b) { return p.GetKeyNames("S", b); },
        std::string("ab\0\0", 4));
}

// Duplicates behave as the Windows functions treat them: reads see the first
// section of a name and the first key of a name in it, so a delete removes
// that one and a later duplicate becomes the one that is read.
TEST_F(ProfileTest, DeletesRemoveTheFirstOfDuplicatesAndTheNextIsThenRead) {
    test::WriteFile(profile_.Path(), "[S]\nk=1\nk=2\n[T]\nx=1\n[S]\nj=3\n");
    EXPECT_EQ(profile_.GetString("S", "j", "none"), "none");
    ASSERT_TRUE(profile_.DeleteKey("S", "k"));
    EXPECT_EQ(profile_.GetString("S", "k"), "2");
    ASSERT_TRUE(profile_.DeleteSection("S"));
    EXPECT_EQ(profile_.SectionNames(), (std::vector<std::string>{"T", "S"}));
    EXPECT_EQ(profile_.GetString("S", "j"), "3");
    EXPECT_EQ(test::ReadFile(profile_.Path()), "[T]\nx=1\n[S]\nj=3\n");
}

TEST_F(ProfileTest, DeletesRemoveOneKeyOrOneWholeSection) {
    ASSERT_TRUE(profile_.WriteString("VIDEO_WALL_1", "VideoWallInfo", "00"));
    ASSERT_TRUE(profile_.WriteString("VIDEO_WALL_1", "Cell", "11"));
    ASSERT_TRUE(profile_.WriteString("MONITOR_ID_CONTAINER", "Container", "0"));
    ASSERT_TRUE(profile_.DeleteKey("video_wall_1", "CELL"));
    EXPECT_EQ(profile_.KeyNames("VIDEO_WALL_1"), std::vector<std::string>{"VideoWallInfo"});
    ASSERT_TRUE(profile_.DeleteSection("Video_Wall_1"));
    EXPECT_EQ(profile_.SectionNames(), std::vector<std::string>{"MONITOR_ID_CONTAINER"});
    EXPECT_EQ(profile_.GetString("MONITOR_ID_CONTAINER", "Container"), "0");
    EXPECT_TRUE(profile_.DeleteSection("NoSuchSection"));
    EXPECT_TRUE(profile_.DeleteKey("MONITOR_ID_CONTAINER", "NoSuchKey"));
}

TEST_F(ProfileTest, ReplaceSectionsDropsEveryMatchAndAddsTheNewInOneWrite) {
    test::WriteFile(profile_.Path(),
                    "; kept\n[Wall1]\na=1\n\n[Other]\nk=v\n[wall1]\nb=2\n[Wall2]\nc=3\n");
    auto walls = [](std::string_view name) {
        return name.substr(0, 4) == "Wall" || name == "wall1";
    };
    ASSERT_TRUE(profile_.ReplaceSections(walls, {{"Wall1", {{"x", "9"}, {"y", "8"}}}}));
    EXPECT_EQ(test::ReadFile(profile_.Path()), "; kept\n[Other]\nk=v\n\n[Wall1]\nx=9\ny=8\n");
    // A name that would break the format writes nothing at all.
    EXPECT_FALSE(
        profile_.ReplaceSections(walls, {{"Wall1", {{"x", "1"}}}, {"Wall2", {{"a=b", "1"}}}}));
    EXPECT_FALSE(profile_.ReplaceSections(walls, {{"Wall]", {}}}));
    EXPECT_EQ(profile_.GetString("Wall1", "x", ""), "9");
    // Dropping alone empties the file of walls.
    ASSERT_TRUE(profile_.ReplaceSections(walls, {}));
    EXPECT_EQ(profile_.SectionNames(), std::vector<std::string>{"Other"});
}

TEST_F(ProfileTest, StructuresCarryTheirChecksum) {
    // A cell: monitor id 3, column 1, row 0, cell index 2.
    std::array<std::uint8_t, 16> cell{};
    bytes::PutU32(cell, 0, 3);
    bytes::PutU32(cell, 4, 1);
    bytes::PutU32(cell, 12, 2);
    ASSERT_TRUE(profile_.WriteStruct("VIDEO_WALL_1", "ABCDEFGHIJKLMNOPQRSTUVWX1", cell));
    EXPECT_EQ(profile_.GetString("VIDEO_WALL_1", "ABCDEFGHIJKLMNOPQRSTUVWX1"),
              "0300000001000000000000000200000006");
    std::array<std::uint8_t, 16> back{};
    ASSERT_TRUE(profile_.GetStruct("VIDEO_WALL_1", "abcdefghijklmnopqrstuvwx1", back));
    EXPECT_EQ(back, cell);
}

TEST_F(ProfileTest, StructureWithBadChecksumLengthOrDigitsIsRejected) {
    ASSERT_TRUE(profile_.WriteString("W", "BadSum", "0300000001000000000000000200000007"));
    ASSERT_TRUE(profile_.WriteString("W", "Short", "03000000010000000000000002000006"));
    ASSERT_TRUE(profile_.WriteString("W", "NotHex", "03000000010000000000000002000G0006"));
    ASSERT_TRUE(profile_.WriteString("W", "Good", "0300000001000000000000000200000006"));
    std::array<std::uint8_t, 16> out;
    out.fill(0xEE);
    const auto untouched = out;
    for (const char* key : {"BadSum", "Short", "NotHex", "Missing"}) {
        EXPECT_FALSE(profile_.GetStruct("W", key, out)) << key;
        EXPECT_EQ(out, untouched) << key;
    }
    std::array<std::uint8_t, 36> wrongSize{};  // a "VideoWallInfo" read of a cell value
    EXPECT_FALSE(profile_.GetStruct("W", "Good", wrongSize));
    EXPECT_TRUE(profile_.GetStruct("W", "Good", out));
}

TEST_F(ProfileTest, WritesThatWouldBreakTheFormatAreRefused) {
    EXPECT_FALSE(profile_.WriteString("S", "Key", "two\nlines"));
    EXPECT_FALSE(profile_.WriteString("S", "A=B", "v"));
    EXPECT_FALSE(profile_.WriteString("S]", "Key", "v"));
    EXPECT_FALSE(profile_.WriteString("S", "", "v"));
    EXPECT_FALSE(std::filesystem::exists(profile_.Path()));
}

TEST_F(ProfileTest, ConcurrentWritersInTwoProcessesLoseNoKey) {
    constexpr int kKeys = 40;
    auto writer = [&](const std::string& who) {
        return [&, who] {
            Profile mine(profile_.Path());
            // Two threads per process: the lock serialises threads too.
            auto half = [&](int first) {
                for (int i = first; i < kKeys; i += 2)
                    if (!mine.WriteString("Shared", who + std::to_string(i), std::to_string(i)))
                        return false;
                return true;
            };
            bool even = false;
            std::thread other([&] { even = half(0); });
            const bool odd = half(1);
            other.join();
            return even && odd ? 0 : 1;
        };
    };
    const pid_t a = ForkChild(writer("a"));
    const pid_t b = ForkChild(writer("b"));
    ASSERT_EQ(WaitChild(a), 0);
    ASSERT_EQ(WaitChild(b), 0);
    EXPECT_EQ(profile_.KeyNames("Shared").size(), 2u * kKeys);
    for (int i = 0; i < kKeys; ++i) {
        EXPECT_EQ(profile_.GetString("Shared", "a" + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(profile_.GetString("Shared", "b" + std::to_string(i)), std::to_string(i));
    }
    // Only the file and its lock remain: no temporary file is left behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ORVVideoWallConfigFile.ini",
                                               "ORVVideoWallConfigFile.ini.lock"}));
}

}  // namespace
}  // namespace orv::platform
