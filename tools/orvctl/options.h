// The orvctl command line as values: the global options and one command per
// control-channel request. Parsing is pure (no socket, no environment): the
// default port is given by the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace orv::orvctl {

struct WallsCommand {
    bool operator==(const WallsCommand&) const = default;
};
struct MonitorsCommand {
    bool operator==(const MonitorsCommand&) const = default;
};
struct ModeCommand {
    std::optional<std::int32_t> set;  // none: report the encode mode
    bool operator==(const ModeCommand&) const = default;
};
struct CreateCommand {
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::int32_t pixelMode = 1;     // control::kPixelMode4K
    std::int32_t zoneTemplate = 0;  // none
    bool operator==(const CreateCommand&) const = default;
};
struct PlaceCommand {
    std::int32_t monitorId = 0;
    std::int32_t column = 0;
    std::int32_t row = 0;
    bool operator==(const PlaceCommand&) const = default;
};
struct RemoveCommand {
    std::int32_t monitorId = 0;
    bool operator==(const RemoveCommand&) const = default;
};
struct SwapCommand {
    std::int32_t monitorA = 0;
    std::int32_t monitorB = 0;
    bool operator==(const SwapCommand&) const = default;
};
struct SetIdCommand {
    std::int32_t oldId = 0;
    std::int32_t newId = 0;
    bool operator==(const SetIdCommand&) const = default;
};
struct DestroyCommand {
    bool operator==(const DestroyCommand&) const = default;
};
struct SaveCommand {
    bool operator==(const SaveCommand&) const = default;
};
struct SelectCommand {
    std::int32_t selection = 0;
    bool operator==(const SelectCommand&) const = default;
};
struct WatchCommand {
    std::optional<std::int32_t> count;  // stop after this many messages; none: until stopped
    bool operator==(const WatchCommand&) const = default;
};

using Command = std::variant<WallsCommand, MonitorsCommand, ModeCommand, CreateCommand,
                             PlaceCommand, RemoveCommand, SwapCommand, SetIdCommand, DestroyCommand,
                             SaveCommand, SelectCommand, WatchCommand>;

inline constexpr int kDefaultTimeoutMs = 3000;

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    int timeoutMs = kDefaultTimeoutMs;  // connecting, and waiting for each answer
    bool json = false;
    Command command;
};

struct ParseResult {
    std::optional<Options> options;  // set when the arguments make a command
    bool help = false;               // --help was asked for
    std::string error;               // one line when neither
};

// `args` without the program name. Options may stand before or after the
// command; "--name value" and "--name=value" are both accepted.
ParseResult ParseArgs(std::span<const char* const> args, std::uint16_t defaultPort);

// The --help text.
std::string Usage(std::uint16_t defaultPort);

}  // namespace orv::orvctl
