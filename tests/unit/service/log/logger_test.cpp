#include "service/log/logger.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using orv::log::Logger;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    std::string Read(const char* file) const {
        std::ifstream in(dir_ / file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // The file content with every time prefix removed, after checking that
    // each line starts with one.
    std::string Bodies(const char* file) const {
        const std::string all = Read(file);
        static const std::regex prefix(
            R"(\d{4}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,3}: )");
        std::string out;
        std::size_t pos = 0;
        while (pos < all.size()) {
            std::smatch m;
            std::string rest = all.substr(pos);
            EXPECT_TRUE(std::regex_search(rest, m, prefix, std::regex_constants::match_continuous))
                << "no time prefix at " << pos;
            if (m.empty()) break;
            pos += m.length(0);
            const std::size_t end = all.find("\r\n", pos);
            out += all.substr(pos, end + 2 - pos);
            pos = end + 2;
        }
        return out;
    }

    orv::test::TempDir tmp_;
    const fs::path dir_{tmp_.Path()};
};

}  // namespace

TEST_F(LoggerTest, LineEndsFollowTheCrLfRule) {
    Logger logger(dir_.string());
    logger.Log({1, "Service start.\n", 0});
    logger.Log({1, "already ends\r\n", 0});
    logger.Log({1, "no end", 0});
    logger.Flush();
    EXPECT_EQ(Bodies("ServiceManager.log.txt"), "Service start.\n\r\nalready ends\r\nno end\r\n");
}

TEST_F(LoggerTest, SuppressedAndSilentChannelsWriteNothing) {
    Logger logger(dir_.string());
    logger.Log({1, "hidden\n", 1});
    logger.Log({3, "three\n", 0});
    logger.Log({6, "six\n", 0});
    logger.Log({-1, "negative\n", 0});
    logger.Log({1, nullptr, 0});
    logger.Log({2, "fw\n", 0});
    logger.Flush();
    // Only the firmware channel's file exists: nothing else was written.
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(dir_)) files.push_back(e.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"FWError.log.txt"});
    EXPECT_EQ(Bodies("FWError.log.txt"), "fw\n\r\n");
}

TEST_F(LoggerTest, DeletedFileAndFolderAreRecreatedByTheNextLine) {
    Logger logger(dir_.string());
    logger.Log({0, "one", 0});
    logger.Flush();
    fs::remove_all(dir_);
    logger.Log({0, "two", 0});
    logger.Flush();
    EXPECT_EQ(Bodies("CatInfo.log.txt"), "two\r\n");
}

TEST_F(LoggerTest, LinesFromManyThreadsAreAllWrittenWhole) {
    Logger logger(dir_.string());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string text =
                    "t" + std::to_string(t) + " line " + std::to_string(i) + "\n";
                logger.Log({7, text.c_str(), 0});
            }
        });
    for (auto& th : threads) th.join();
    logger.Flush();
    const std::string bodies = Bodies("OSRectHDMI.log.txt");
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), '\r'), 2000);
}
