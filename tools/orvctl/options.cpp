#include "tools/orvctl/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <string_view>
#include <vector>

#include "protocol/control/control_protocol.h"

namespace orv::orvctl {
namespace {

namespace control = orv::control;

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A whole decimal number within [lo, hi], or nothing.
std::optional<std::int64_t> Number(std::string_view text, std::int64_t lo, std::int64_t hi) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || v < lo || v > hi)
        return std::nullopt;
    return v;
}

// Fills `out` with a number or says what was wrong with `what`.
bool Take(std::string_view text, std::int64_t lo, std::int64_t hi, const std::string& what,
          std::int32_t& out, std::string& error) {
    const auto v = Number(text, lo, hi);
    if (!v) {
        error = what + " must be a number from " + std::to_string(lo) + " to " +
                std::to_string(hi) + ", not \"" + std::string(text) + "\"";
        return false;
    }
    out = static_cast<std::int32_t>(*v);
    return true;
}

bool TakeMonitorId(std::string_view text, const std::string& what, std::int32_t& out,
                   std::string& error) {
    return Take(text, control::kMinMonitorId, control::kMaxMonitorId, what, out, error);
}

std::optional<std::int32_t> PixelMode(std::string_view text) {
    const std::string t = Lower(text);
    if (t == "4k") return control::kPixelMode4K;
    if (t == "2k") return control::kPixelMode2K;
    if (t == "1080p") return control::kPixelMode1080P;
    return std::nullopt;
}

std::optional<std::int32_t> EncodeMode(std::string_view text) {
    const std::string t = Lower(text);
    if (t == "gpu" || t == "1") return control::kEncodeGpu;
    if (t == "cpu" || t == "2") return control::kEncodeCpu;
    return std::nullopt;
}

// "COLSxROWS" within the panel's matrix limits.
bool TakeMatrix(std::string_view text, CreateCommand& c, std::string& error) {
    const std::size_t x = Lower(text).find('x');
    if (x == std::string_view::npos) {
        error = "the wall size is COLSxROWS, e.g. 2x2, not \"" + std::string(text) + "\"";
        return false;
    }
    if (!Take(text.substr(0, x), 1, control::kMaxMatrixSide, "the column count", c.columns,
              error) ||
        !Take(text.substr(x + 1), 1, control::kMaxMatrixSide, "the row count", c.rows, error))
        return false;
    if (c.columns * c.rows > control::kMaxWallMonitors) {
        error = "a wall of " + std::to_string(c.columns) + " x " + std::to_string(c.rows) +
                " is not supported (the number of monitors shouldn't exceed " +
                std::to_string(control::kMaxWallMonitors) + ")";
        return false;
    }
    return true;
}

struct Words {
    std::vector<std::string_view> positional;
    std::map<std::string, std::string_view> options;  // command options by name
};

// The command from its words. False with `error` set when they do not fit.
bool MakeCommand(const Words& w, Command& command, std::string& error) {
    const std::string_view name = w.positional.front();
    const std::vector<std::string_view> a(w.positional.begin() + 1, w.positional.end());

    // Each command names the options it takes; any other is refused.
    auto only = [&](std::initializer_list<std::string_view> allowed) {
        for (const auto& [option, value] : w.options)
            if (std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
                error = "\"" + std::string(name) + "\" takes no option --" + option;
                return false;
            }
        return true;
    };
    auto arity = [&](std::size_t lo, std::size_t hi, const char* form) {
        if (a.size() >= lo && a.size() <= hi) return true;
        error = std::string("usage: orvctl ") + form;
        return false;
    };

    if (name == "walls") {
        if (!only({}) || !arity(0, 0, "walls")) return false;
        command = WallsCommand{};
    } else if (name == "monitors") {
        if (!only({}) || !arity(0, 0, "monitors")) return false;
        command = MonitorsCommand{};
    } else if (name == "mode") {
        if (!only({}) || !arity(0, 1, "mode [gpu|cpu|1|2]")) return false;
        ModeCommand c;
        if (!a.empty()) {
            c.set = EncodeMode(a[0]);
            if (!c.set) {
                error = "the encode mode is gpu (1) or cpu (2), not \"" + std::string(a[0]) + "\"";
                return false;
            }
        }
        command = c;
    } else if (name == "create") {
        if (!only({"pixels", "zones"}) ||
            !arity(1, 1, "create COLSxROWS [--pixels 4K|2K|1080P] [--zones TEMPLATE]"))
            return false;
        CreateCommand c;
        if (!TakeMatrix(a[0], c, error)) return false;
        if (const auto it = w.options.find("pixels"); it != w.options.end()) {
            const auto mode = PixelMode(it->second);
            if (!mode) {
                error = "--pixels is 4K, 2K or 1080P, not \"" + std::string(it->second) + "\"";
                return false;
            }
            c.pixelMode = *mode;
        }
        if (const auto it = w.options.find("zones"); it != w.options.end()) {
            if (Lower(it->second) == "none")
                c.zoneTemplate = 0;
            else if (!Take(it->second, 0, control::kZoneTemplateCount, "--zones", c.zoneTemplate,
                           error))
                return false;
        }
        command = c;
    } else if (name == "place") {
        PlaceCommand c;
        if (!only({}) || !arity(3, 3, "place ID COL ROW") ||
            !TakeMonitorId(a[0], "the monitor id", c.monitorId, error) ||
            !Take(a[1], 0, control::kMaxMatrixSide - 1, "the column", c.column, error) ||
            !Take(a[2], 0, control::kMaxMatrixSide - 1, "the row", c.row, error))
            return false;
        command = c;
    } else if (name == "remove") {
        RemoveCommand c;
        if (!only({}) || !arity(1, 1, "remove ID") ||
            !TakeMonitorId(a[0], "the monitor id", c.monitorId, error))
            return false;
        command = c;
    } else if (name == "swap") {
        SwapCommand c;
        if (!only({}) || !arity(2, 2, "swap A B") ||
            !TakeMonitorId(a[0], "monitor id A", c.monitorA, error) ||
            !TakeMonitorId(a[1], "monitor id B", c.monitorB, error))
            return false;
        if (c.monitorA == c.monitorB) {
            error = "swap needs two different monitors";
            return false;
        }
        command = c;
    } else if (name == "set-id") {
        SetIdCommand c;
        if (!only({}) || !arity(2, 2, "set-id OLD NEW") ||
            !TakeMonitorId(a[0], "the old id", c.oldId, error) ||
            !TakeMonitorId(a[1], "the new id", c.newId, error))
            return false;
        command = c;
    } else if (name == "destroy") {
        if (!only({}) || !arity(0, 0, "destroy")) return false;
        command = DestroyCommand{};
    } else if (name == "save") {
        if (!only({}) || !arity(0, 0, "save")) return false;
        command = SaveCommand{};
    } else if (name == "select") {
        SelectCommand c;
        if (!only({}) || !arity(1, 1, "select N") ||
            !Take(a[0], 1, control::kMaxWallMonitors, "the wall number", c.selection, error))
            return false;
        command = c;
    } else if (name == "watch") {
        if (!only({"count"}) || !arity(0, 0, "watch [--count N]")) return false;
        WatchCommand c;
        if (const auto it = w.options.find("count"); it != w.options.end()) {
            std::int32_t n = 0;
            if (!Take(it->second, 1, 1'000'000'000, "--count", n, error)) return false;
            c.count = n;
        }
        command = c;
    } else {
        error = "unknown command \"" + std::string(name) + "\" (orvctl --help lists them)";
        return false;
    }
    return true;
}

}  // namespace

ParseResult ParseArgs(std::span<const char* const> args, std::uint16_t defaultPort) {
    ParseResult result;
    Options o;
    o.port = defaultPort;
    Words words;
    // Options that carry a value; the command options are checked against
    // the command once it is known.
    static const std::string_view kValued[] = {"host",   "port",  "timeout",
                                               "pixels", "zones", "count"};

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            result.help = true;
            return result;
        }
        if (!arg.starts_with("--")) {
            words.positional.push_back(arg);
            continue;
        }
        std::string name(arg.substr(2));
        std::optional<std::string_view> value;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value = arg.substr(2 + eq + 1);
            name.resize(eq);
        }
        if (name == "json") {
            if (value) {
                result.error = "--json takes no value";
                return result;
            }
            o.json = true;
            continue;
        }
        if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
            result.error = "unknown option --" + name;
            return result;
        }
        if (!value) {
            if (i + 1 == args.size()) {
                result.error = "--" + name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (name == "host") {
            if (value->empty()) {
                result.error = "--host needs a value";
                return result;
            }
            o.host = std::string(*value);
        } else if (name == "port") {
            std::int32_t port = 0;
            if (!Take(*value, 1, 65535, "--port", port, result.error)) return result;
            o.port = static_cast<std::uint16_t>(port);
        } else if (name == "timeout") {
            if (!Take(*value, 1, 600'000, "--timeout (milliseconds)", o.timeoutMs, result.error))
                return result;
        } else {
            words.options[name] = *value;
        }
    }
    if (words.positional.empty()) {
        result.error = "no command given (orvctl --help lists them)";
        return result;
    }
    if (!MakeCommand(words, o.command, result.error)) return result;
    result.options = std::move(o);
    return result;
}

std::string Usage(std::uint16_t defaultPort) {
    return "usage: orvctl [--host HOST] [--port PORT] [--timeout MS] [--json] COMMAND\n"
           "\n"
           "Talks to the video-wall service over its control channel, as the panel does.\n"
           "\n"
           "commands:\n"
           "  walls                     the service's walls\n"
           "  monitors                  the attached monitors and their places\n"
           "  mode [gpu|cpu|1|2]        show or set the encode mode\n"
           "  create COLSxROWS [--pixels 4K|2K|1080P] [--zones TEMPLATE]\n"
           "                            build a wall (at most 9 monitors; pixels 4K by\n"
           "                            default; zone template 0 (none) to 8)\n"
           "  place ID COL ROW          put monitor ID at a cell (0-based column, row)\n"
           "  remove ID                 take monitor ID out of the wall\n"
           "  swap A B                  exchange the places of two monitors\n"
           "  set-id OLD NEW            renumber a monitor (ids 1 to 1024)\n"
           "  destroy                   tear the wall down\n"
           "  save                      write the wall to the configuration file\n"
           "  select N                  make wall N the selected one\n"
           "  watch [--count N]         print notices and answers as they come\n"
           "\n"
           "options:\n"
           "  --host HOST               the service's address (127.0.0.1)\n"
           "  --port PORT               its control port (" +
           std::to_string(defaultPort) +
           "; ORV_CONTROL_PORT sets the default)\n"
           "  --timeout MS              longest wait to connect and for each answer (" +
           std::to_string(kDefaultTimeoutMs) +
           ")\n"
           "  --json                    JSON output (watch: one object a line)\n"
           "\n"
           "exit status: 0 done, 1 refused by the service or not possible on its current\n"
           "wall, 2 bad usage, 3 no service, no answer in time, connection lost or a\n"
           "malformed answer.\n";
}

}  // namespace orv::orvctl
