#include "sim/adapter/simulator.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/png/png_io.h"
#include "platform/paths.h"
#include "sim/adapter/edid.h"
#include "sim/adapter/sim_log.h"

namespace orv::sim {
namespace {

// The picture a monitor shows, as a PNG; "ok WxH" or an error.
std::string WriteShownPicture(const MonitorState& m, const std::string& path) {
    if (m.picture.front.empty() || m.picture.width == 0)
        return "error: the monitor on " + std::to_string(m.port) + " shows nothing yet";
    png::Image image{m.picture.front, m.picture.width, m.picture.height};
    std::string error;
    if (!png::WritePng(path, image, error)) return "error: " + error;
    return "ok " + std::to_string(image.width) + "x" + std::to_string(image.height);
}

png::Image BlankWall(std::uint32_t width, std::uint32_t height) {
    png::Image wall{std::vector<std::uint8_t>(std::size_t{width} * height * 4), width, height};
    for (std::size_t i = 0; i < wall.bgrx.size(); i += 4) {
        wall.bgrx[i] = 0x20;
        wall.bgrx[i + 1] = wall.bgrx[i + 2] = 0x18;
        wall.bgrx[i + 3] = 0xFF;
    }
    return wall;
}

void Paste(png::Image& wall, const MonitorState& m, std::uint32_t left, std::uint32_t top) {
    const std::size_t rowBytes = std::size_t{m.picture.width} * 4;
    for (std::uint32_t y = 0; y < m.picture.height; ++y)
        std::copy_n(m.picture.front.begin() + static_cast<std::ptrdiff_t>(y * rowBytes), rowBytes,
                    wall.bgrx.begin() + static_cast<std::ptrdiff_t>(
                                            (std::size_t{top + y} * wall.width + left) * 4));
}

// Every monitor that shows something, one row per adapter in port order,
// with a dark gap between screens, as one picture.
png::Image ComposeRows(const std::vector<std::vector<MonitorState>>& rows) {
    constexpr std::uint32_t kGap = 16;
    std::uint32_t width = kGap, height = kGap;
    for (const auto& row : rows) {
        std::uint32_t w = kGap, h = 0;
        for (const MonitorState& m : row) {
            w += m.picture.width + kGap;
            h = std::max<std::uint32_t>(h, m.picture.height);
        }
        if (row.empty()) continue;
        width = std::max(width, w);
        height += h + kGap;
    }
    png::Image wall = BlankWall(width, height);
    std::uint32_t top = kGap;
    for (const auto& row : rows) {
        if (row.empty()) continue;
        std::uint32_t left = kGap, rowHeight = 0;
        for (const MonitorState& m : row) {
            Paste(wall, m, left, top);
            left += m.picture.width + kGap;
            rowHeight = std::max<std::uint32_t>(rowHeight, m.picture.height);
        }
        top += rowHeight + kGap;
    }
    return wall;
}

struct Placed {
    MonitorState monitor;
    std::uint32_t column = 0, row = 0;
};

// The monitors at their wall places, edge to edge: a column is as wide as
// its widest monitor, a row as high as its highest; empty places stay dark.
png::Image ComposePlaced(const std::vector<Placed>& placed) {
    std::vector<std::uint32_t> widths, heights;
    for (const Placed& p : placed) {
        if (widths.size() <= p.column) widths.resize(p.column + 1, 0);
        if (heights.size() <= p.row) heights.resize(p.row + 1, 0);
        widths[p.column] = std::max<std::uint32_t>(widths[p.column], p.monitor.picture.width);
        heights[p.row] = std::max<std::uint32_t>(heights[p.row], p.monitor.picture.height);
    }
    // Offsets: the sums of the columns and rows before each.
    std::vector<std::uint32_t> lefts(widths.size() + 1, 0), tops(heights.size() + 1, 0);
    for (std::size_t c = 0; c < widths.size(); ++c) lefts[c + 1] = lefts[c] + widths[c];
    for (std::size_t r = 0; r < heights.size(); ++r) tops[r + 1] = tops[r] + heights[r];
    png::Image wall = BlankWall(std::max(lefts.back(), 1u), std::max(tops.back(), 1u));
    for (const Placed& p : placed) Paste(wall, p.monitor, lefts[p.column], tops[p.row]);
    return wall;
}

std::vector<std::string> Words(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool ParsePort(const std::string& text, std::uint8_t& port) {
    unsigned v = 0;
    std::string_view s = text;
    int base = 10;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        s.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size() || !IsPortBit(v)) return false;
    port = static_cast<std::uint8_t>(v);
    return true;
}

constexpr std::uint32_t kMaxPlace = 63;

bool ParsePlace(const std::string& text, std::uint32_t& v) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size() && v <= kMaxPlace;
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

std::string StatsLine(const SimAdapter& a) {
    const AdapterStats s = a.Stats();
    std::ostringstream out;
    out << a.Name() << ": packets=" << s.packets << " frames=" << s.frames << " acks=" << s.acks
        << " shows=" << s.shows << " commits=" << s.commits << " rom_writes=" << s.romWrites
        << " violations=" << s.violations << " monitors=" << Hex2(a.MonitorMask())
        << (a.Attached() ? "" : " detached");
    return out.str();
}

}  // namespace

std::unique_ptr<Simulator> Simulator::Create(SimConfig config, std::string* error) {
    if (!FinishConfig(config, error)) return nullptr;
    if (!platform::MakeDirs(config.romDir)) {
        if (error) *error = "cannot create " + config.romDir;
        return nullptr;
    }
    std::unique_ptr<Simulator> sim(new Simulator(std::move(config)));
    for (std::size_t i = 0; i < sim->config_.adapters.size(); ++i) {
        auto a = SimAdapter::Create(sim->config_.adapters[i], i, sim->config_.busDir, error);
        if (!a) return nullptr;
        sim->adapters_.push_back(std::move(a));
    }
    return sim;
}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    if (!platform::MakeDirs(config_.busDir)) {
        if (error) *error = "cannot create " + config_.busDir;
        return false;
    }
    for (auto& a : adapters_) {
        if (!a->Attach(error)) {
            Stop();
            return false;
        }
    }
    if (!config_.controlPath.empty()) {
        control_ = std::make_unique<ControlServer>(
            config_.controlPath, [this](std::string_view line) { return Command(line); });
        if (!control_->Start(error)) {
            control_.reset();
            Stop();
            return false;
        }
    }
    return true;
}

void Simulator::Stop() {
    // The control server goes first: its commands reach the adapters.
    control_.reset();
    for (auto& a : adapters_) a->Detach();
}

SimAdapter* Simulator::Find(std::string_view key) {
    for (auto& a : adapters_)
        if (a->Name() == key) return a.get();
    std::size_t i = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), i);
    if (ec == std::errc() && end == key.data() + key.size() && i < adapters_.size())
        return adapters_[i].get();
    return nullptr;
}

std::string Simulator::Help() {
    return "ok commands: list | plug A PORT [EDID.hex] | unplug A PORT | detach A | attach A | "
           "acks A stop|resume | break A | mend A | corrupt-edid A checksum|size|port [COUNT] | "
           "stats [A] | flips [LAST] | violations A | png A PORT FILE | png-all DIR | "
           "wall-png FILE [A:PORT=COL,ROW ...] | help  "
           "(A: adapter name or index; PORT: 1 2 4 8 16 or 0x..)";
}

std::string Simulator::WallPng(const std::vector<std::string>& w) {
    if (w.size() < 2) return "error: wall-png needs a file";
    png::Image wall;
    // The frame each composed monitor showed when it was read: adapters are
    // read one after another while frames may flow.
    std::string frames;
    auto shown = [&frames](const MonitorState& m) {
        frames += (frames.empty() ? "" : ",") + std::to_string(m.picture.frontFrameIndex >> 8);
    };
    if (w.size() == 2) {
        std::vector<std::vector<MonitorState>> rows;
        for (auto& a : adapters_) {
            rows.emplace_back();
            for (std::uint8_t port : kPortOrder) {
                std::optional<MonitorState> m = a->Monitor(port);
                if (m && m->plugged && !m->picture.front.empty() && m->picture.width != 0) {
                    shown(*m);
                    rows.back().push_back(std::move(*m));
                }
            }
        }
        wall = ComposeRows(rows);
    } else {
        std::vector<Placed> placed;
        for (std::size_t i = 2; i < w.size(); ++i) {
            const std::string usage = "error: placement " + w[i] + " is not A:PORT=COL,ROW";
            const std::size_t colon = w[i].rfind(':'), eq = w[i].find('=', colon + 1);
            const std::size_t comma = w[i].find(',', eq + 1);
            if (colon == std::string::npos || eq == std::string::npos || comma == std::string::npos)
                return usage;
            SimAdapter* a = Find(std::string_view(w[i]).substr(0, colon));
            std::uint8_t port = 0;
            if (!a || !ParsePort(w[i].substr(colon + 1, eq - colon - 1), port)) return usage;
            Placed p;
            if (!ParsePlace(w[i].substr(eq + 1, comma - eq - 1), p.column) ||
                !ParsePlace(w[i].substr(comma + 1), p.row))
                return usage + " (COL and ROW 0.." + std::to_string(kMaxPlace) + ")";
            std::optional<MonitorState> m = a->Monitor(port);
            if (!m || !m->plugged || m->picture.front.empty() || m->picture.width == 0)
                return "error: " + w[i] + " shows nothing yet";
            shown(*m);
            p.monitor = std::move(*m);
            placed.push_back(std::move(p));
        }
        wall = ComposePlaced(placed);
    }
    std::string error;
    if (!png::WritePng(w[1], wall, error)) return "error: " + error;
    return "ok " + std::to_string(wall.width) + "x" + std::to_string(wall.height) + " frames " +
           (frames.empty() ? "none" : frames);
}

std::string Simulator::FlipsJson(const std::vector<std::string>& w) {
    std::size_t last = kFlipsKept;
    if (w.size() >= 2) {
        const auto [end, ec] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), last);
        if (ec != std::errc() || end != w[1].data() + w[1].size()) return "error: flips [LAST]";
    }
    nlohmann::json monitors = nlohmann::json::array();
    for (auto& a : adapters_) {
        for (const MonitorFlips& m : a->Flips()) {
            nlohmann::json flips = nlohmann::json::array();
            const std::size_t skip = m.flips.size() > last ? m.flips.size() - last : 0;
            for (std::size_t i = skip; i < m.flips.size(); ++i)
                flips.push_back({m.flips[i].frame, m.flips[i].atUs});
            monitors.push_back({{"adapter", a->Name()},
                                {"port", m.port},
                                {"plugged", m.plugged},
                                {"frame", m.frame},
                                {"flips", std::move(flips)}});
        }
    }
    return "ok " + nlohmann::json{{"monitors", std::move(monitors)}}.dump();
}

std::string Simulator::Command(std::string_view line) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return "error: empty command";
    const std::string& cmd = w[0];
    if (cmd == "help") return Help();
    if (cmd == "list" || (cmd == "stats" && w.size() == 1)) {
        std::string out = "ok";
        for (auto& a : adapters_) out += (out.size() > 2 ? "; " : " ") + StatsLine(*a);
        return out;
    }
    if (cmd == "png-all") {
        if (w.size() < 2) return "error: png-all needs a folder";
        std::size_t written = 0;
        for (auto& a : adapters_) {
            for (std::uint8_t port : kPortOrder) {
                std::optional<MonitorState> m = a->Monitor(port);
                if (!m || !m->plugged || m->picture.front.empty() || m->picture.width == 0)
                    continue;
                const std::string path =
                    w[1] + "/" + a->Name() + "-port" + std::to_string(port) + ".png";
                const std::string r = WriteShownPicture(*m, path);
                if (r.rfind("ok", 0) != 0) return r;
                ++written;
            }
        }
        return "ok " + std::to_string(written) + " pictures";
    }
    if (cmd == "wall-png") return WallPng(w);
    if (cmd == "flips") return FlipsJson(w);
    if (w.size() < 2) return "error: " + cmd + " needs an adapter (try help)";
    SimAdapter* a = Find(w[1]);
    if (!a) return "error: no adapter " + w[1];
    SimLog("control: %.*s", static_cast<int>(line.size()), line.data());

    if (cmd == "plug" || cmd == "unplug") {
        std::uint8_t port = 0;
        if (w.size() < 3 || !ParsePort(w[2], port)) return "error: " + cmd + " needs a port bit";
        if (cmd == "unplug")
            return a->Unplug(port) ? "ok" : "error: nothing plugged on " + Hex2(port);
        std::optional<std::vector<std::uint8_t>> edid;
        if (w.size() >= 4) {
            std::string error;
            edid = LoadEdidHex(w[3], &error);
            if (!edid) return "error: " + error;
        }
        a->Plug(port, std::move(edid));
        return "ok monitors=" + Hex2(a->MonitorMask());
    }
    if (cmd == "png") {
        std::uint8_t port = 0;
        if (w.size() < 4 || !ParsePort(w[2], port)) return "error: png A PORT FILE";
        std::optional<MonitorState> m = a->Monitor(port);
        if (!m || !m->plugged) return "error: nothing plugged on " + Hex2(port);
        return WriteShownPicture(*m, w[3]);
    }
    if (cmd == "detach") {
        a->Detach();
        return "ok";
    }
    if (cmd == "attach") {
        std::string error;
        return a->Attach(&error) ? "ok" : "error: " + error;
    }
    if (cmd == "acks") {
        if (w.size() < 3 || (w[2] != "stop" && w[2] != "resume"))
            return "error: acks A stop|resume";
        a->SetAcksEnabled(w[2] == "resume");
        return "ok";
    }
    if (cmd == "break" || cmd == "mend") {
        a->SetLinkBroken(cmd == "break");
        return "ok";
    }
    if (cmd == "corrupt-edid") {
        const std::string how = w.size() >= 3 ? w[2] : "";
        unsigned count = 1;
        if (w.size() >= 4) {
            auto [end, ec] = std::from_chars(w[3].data(), w[3].data() + w[3].size(), count);
            if (ec != std::errc() || end != w[3].data() + w[3].size() || count == 0 || count > 100)
                return "error: corrupt-edid A checksum|size|port [COUNT 1..100]";
        }
        EdidCorruption kind;
        if (how == "checksum")
            kind = EdidCorruption::kChecksum;
        else if (how == "size")
            kind = EdidCorruption::kSize200;
        else if (how == "port")
            kind = EdidCorruption::kWrongPort;
        else
            return "error: corrupt-edid A checksum|size|port [COUNT 1..100]";
        a->CorruptNextEdid(kind, count);
        return "ok";
    }
    if (cmd == "stats") return "ok " + StatsLine(*a);
    if (cmd == "violations") {
        std::string out = "ok " + std::to_string(a->Stats().violations);
        for (const std::string& v : a->RecentViolations()) out += " | " + v;
        return out;
    }
    return "error: unknown command " + cmd + " (try help)";
}

}  // namespace orv::sim
