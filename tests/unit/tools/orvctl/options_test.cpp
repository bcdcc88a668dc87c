// The orvctl command line as values: every command, the global options
// anywhere, and the usage errors caught before anything is sent.
#include "tools/orvctl/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::orvctl {
namespace {

constexpr std::uint16_t kPort = 1030;

ParseResult Parse(std::vector<const char*> args) {
    return ParseArgs(args, kPort);
}

Command CommandOf(std::vector<const char*> args) {
    const ParseResult r = Parse(args);
    EXPECT_TRUE(r.options) << args.front() << ": " << r.error;
    return r.options ? r.options->command : Command{};
}

TEST(OrvctlOptions, EveryCommandWithItsArguments) {
    EXPECT_EQ(CommandOf({"walls"}), Command{WallsCommand{}});
    EXPECT_EQ(CommandOf({"monitors"}), Command{MonitorsCommand{}});
    EXPECT_EQ(CommandOf({"mode"}), Command{ModeCommand{}});
    EXPECT_EQ(CommandOf({"mode", "CPU"}), Command{ModeCommand{2}});
    EXPECT_EQ(CommandOf({"mode", "1"}), Command{ModeCommand{1}});
    EXPECT_EQ(CommandOf({"create", "3x2"}), Command{(CreateCommand{3, 2, 1, 0})});
    EXPECT_EQ(CommandOf({"create", "1X1", "--pixels", "1080p", "--zones=8"}),
              Command{(CreateCommand{1, 1, 3, 8})});
    EXPECT_EQ(CommandOf({"create", "--pixels=2K", "2x2", "--zones", "none"}),
              Command{(CreateCommand{2, 2, 2, 0})});
    EXPECT_EQ(CommandOf({"place", "7", "2", "0"}), Command{(PlaceCommand{7, 2, 0})});
    EXPECT_EQ(CommandOf({"remove", "1024"}), Command{RemoveCommand{1024}});
    EXPECT_EQ(CommandOf({"swap", "1", "2"}), Command{(SwapCommand{1, 2})});
    EXPECT_EQ(CommandOf({"set-id", "3", "9"}), Command{(SetIdCommand{3, 9})});
    EXPECT_EQ(CommandOf({"destroy"}), Command{DestroyCommand{}});
    EXPECT_EQ(CommandOf({"save"}), Command{SaveCommand{}});
    EXPECT_EQ(CommandOf({"select", "1"}), Command{SelectCommand{1}});
    EXPECT_EQ(CommandOf({"watch"}), Command{WatchCommand{}});
    EXPECT_EQ(CommandOf({"watch", "--count", "3"}), Command{WatchCommand{3}});
}

TEST(OrvctlOptions, GlobalOptionsStandAnywhere) {
    const ParseResult d = Parse({"walls"});
    ASSERT_TRUE(d.options);
    EXPECT_EQ(d.options->host, "127.0.0.1");
    EXPECT_EQ(d.options->port, kPort);
    EXPECT_EQ(d.options->timeoutMs, kDefaultTimeoutMs);
    EXPECT_FALSE(d.options->json);

    const ParseResult r =
        Parse({"--host", "wall.local", "monitors", "--json", "--port=2030", "--timeout", "250"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->host, "wall.local");
    EXPECT_EQ(r.options->port, 2030);
    EXPECT_EQ(r.options->timeoutMs, 250);
    EXPECT_TRUE(r.options->json);

    EXPECT_TRUE(Parse({"walls", "--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_NE(Usage(kPort).find("set-id OLD NEW"), std::string::npos);
}

TEST(OrvctlOptions, BadUsageIsRefusedWithAReason) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "no command"},
        {{"build"}, "unknown command"},
        {{"create", "3x4"}, "shouldn't exceed 9"},  // the panel's limit, before anything is sent
        {{"create", "10x1"}, "column count"},
        {{"create", "0x2"}, "column count"},
        {{"create", "2by2"}, "COLSxROWS"},
        {{"create", "2x"}, "row count"},
        {{"create", "2x2", "--pixels", "8K"}, "--pixels"},
        {{"create", "2x2", "--zones", "9"}, "--zones"},
        {{"create", "2x2", "--count", "1"}, "takes no option --count"},
        {{"walls", "extra"}, "usage: orvctl walls"},
        {{"place", "1", "2"}, "place ID COL ROW"},
        {{"place", "0", "0", "0"}, "monitor id"},
        {{"place", "1", "-1", "0"}, "the column"},
        {{"set-id", "1", "1025"}, "the new id"},
        {{"set-id", "1", "2x"}, "the new id"},
        {{"swap", "3", "3"}, "two different"},
        {{"mode", "3"}, "gpu (1) or cpu (2)"},
        {{"select", "0"}, "wall number"},
        {{"watch", "--count", "0"}, "--count"},
        {{"walls", "--port", "70000"}, "--port"},
        {{"walls", "--timeout", "0"}, "--timeout"},
        {{"walls", "--host"}, "needs a value"},
        {{"walls", "--json=1"}, "no value"},
        {{"walls", "--verbose"}, "unknown option --verbose"},
    };
    for (const auto& [args, reason] : cases) {
        const ParseResult r = Parse(args);
        EXPECT_FALSE(r.options) << (args.empty() ? "(none)" : args.front());
        EXPECT_NE(r.error.find(reason), std::string::npos) << r.error << " lacks " << reason;
    }
}

}  // namespace
}  // namespace orv::orvctl
