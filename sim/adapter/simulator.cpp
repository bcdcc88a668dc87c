#include "sim/adapter/simulator.h"

#include <charconv>
#include <cstdio>
#include <sstream>

#include "platform/paths.h"
#include "sim/adapter/edid.h"
#include "sim/adapter/sim_log.h"

namespace orv::sim {
namespace {

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
           "acks A stop|resume | break A | mend A | corrupt-edid A checksum|size|port | "
           "stats [A] | violations A | help  (A: adapter name or index; PORT: 1 2 4 8 16 or 0x..)";
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
        if (how == "checksum")
            a->CorruptNextEdid(EdidCorruption::kChecksum);
        else if (how == "size")
            a->CorruptNextEdid(EdidCorruption::kSize200);
        else if (how == "port")
            a->CorruptNextEdid(EdidCorruption::kWrongPort);
        else
            return "error: corrupt-edid A checksum|size|port";
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
