#include "panel/model/panel_strings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"

namespace orv::panel {
namespace {

Language FromText(std::string_view text) {
    return LanguageFromFileBytes(
        bytes::ConstBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LanguageFile, OnlyChineseFollowedByZeroOrNothingMeansChinese) {
    EXPECT_EQ(FromText(std::string_view("Chinese\0", 8)), Language::kChinese);
    EXPECT_EQ(FromText("Chinese"), Language::kChinese);
    EXPECT_EQ(FromText("Chinese\n"), Language::kEnglish);
    EXPECT_EQ(FromText("chinese"), Language::kEnglish);
    EXPECT_EQ(FromText("Chin"), Language::kEnglish);
    EXPECT_EQ(FromText(""), Language::kEnglish);
}

TEST(LanguageFile, AMissingFileIsCreatedEnglishAndAWrittenOneIsReadBack) {
    test::TempDir dir;
    const std::string path = dir.File("Language.ini");
    const LanguageAtStart first = ReadLanguageAtStart(path);
    EXPECT_TRUE(first.created);
    EXPECT_EQ(first.language, Language::kEnglish);
    EXPECT_EQ(FileContent(path), std::string("English\0", 8));

    ASSERT_TRUE(WriteLanguageFile(path, Language::kChinese));
    EXPECT_EQ(FileContent(path), std::string("Chinese\0", 8));
    const LanguageAtStart second = ReadLanguageAtStart(path);
    EXPECT_FALSE(second.created);
    EXPECT_EQ(second.language, Language::kChinese);

    EXPECT_FALSE(WriteLanguageFile(dir.File("no-such-folder/Language.ini"), Language::kEnglish));
}

TEST(Texts, ChosenByLanguageWithEnglishWhereNoChineseExists) {
    EXPECT_EQ(Text(StringId::kCaption, Language::kEnglish), "ORV VideoWall ControlCenter");
    EXPECT_EQ(Text(StringId::kCaption, Language::kChinese), "ORV视频墙控制面板");
    EXPECT_EQ(Text(StringId::kIdZero, Language::kChinese), "Monitor Id can't be 0!");
    EXPECT_EQ(Text(static_cast<StringId>(1), Language::kEnglish), "");
    EXPECT_EQ(DisconnectMessage(Language::kEnglish, "127.0.0.1", "ORVVW"),
              "Server 127.0.0.1@ORVVW has been disconnected!");
    EXPECT_EQ(DisconnectMessage(Language::kChinese, "127.0.0.1", "ORVVW"),
              "服务器 127.0.0.1@ORVVW 已经断开连接！");
    // The language dialog's entries in either language.
    EXPECT_EQ(LanguageFromChoice("英语"), Language::kEnglish);
    EXPECT_EQ(LanguageFromChoice("English"), Language::kEnglish);
    EXPECT_EQ(LanguageFromChoice("中文"), Language::kChinese);
}

}  // namespace
}  // namespace orv::panel
