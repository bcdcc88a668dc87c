#include "sim/driver/view_producer.h"

#include <algorithm>
#include <chrono>

#include "platform/thread_name.h"
#include "sim/driver/driver_log.h"
#include "sim/driver/x11_source.h"

namespace orv::driver {
namespace {

using Clock = std::chrono::steady_clock;

// Waits are cut into pieces of this length so that Stop is seen soon.
constexpr std::uint32_t kPollMs = 50;
// A wall larger than this many source pixels is refused (about 1 GiB).
constexpr std::uint64_t kMaxSourcePixels = 1u << 28;
constexpr std::uint32_t kMaxCellSide = 0xFFFF;  // the encoders take 16-bit sizes

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

std::size_t ReadyEvent(int half) {
    return half == 1 ? kEventHalf1Ready : kEventHalf2Ready;
}
std::size_t ReleasedEvent(int half) {
    return half == 1 ? kEventHalf1Released : kEventHalf2Released;
}

const char* CodeName(std::uint32_t code) {
    switch (code) {
        case adapter::kCompressJpegFromYuv:
            return "JPEG (224)";
        case adapter::kCompressCache:
            return "cache coder (226)";
        case adapter::kCompressPredictive:
            return "predictive coder (227)";
        case adapter::kCompressYuv:
            return "YUV planes (228)";
        default:
            return "raw (254)";
    }
}

}  // namespace

std::unique_ptr<ViewProducer> ViewProducer::Create(std::int32_t viewId, const ViewGeometry& view,
                                                   std::int32_t calg, const DriverOptions& options,
                                                   const EventSet& events, Statistics& stats,
                                                   std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<ViewProducer> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    const WallGeometry wall{view.width, view.height, view.columns, view.rows, options.bezel};
    const std::optional<ShareLayout> layout = LayoutFor(view);
    if (!layout || !wall.Usable() || wall.CellWidth() > kMaxCellSide ||
        wall.CellHeight() > kMaxCellSide ||
        std::uint64_t{wall.SourceWidth()} * wall.SourceHeight() > kMaxSourcePixels)
        return fail("unusable wall " + std::to_string(view.width) + "x" +
                    std::to_string(view.height) + " in " + std::to_string(view.columns) + "x" +
                    std::to_string(view.rows) + " cells");
    platform::ErrorCode code = 0;
    auto shm = platform::SharedMemory::Open(ShareBufferName(viewId), layout->size, &code);
    if (!shm)
        return fail("cannot open " + ShareBufferName(viewId) + " (error " + std::to_string(code) +
                    ")");
    std::unique_ptr<FrameSource> source;
    switch (options.source) {
        case SourceKind::kPattern:
            source = MakeTestPattern(wall);
            break;
        case SourceKind::kStill:
            source = MakeStillPicture(wall, options.stillPath, error);
            break;
        case SourceKind::kX11:
            source = MakeX11Capture(wall, options.x11Display, error);
            break;
    }
    if (!source) return nullptr;
    const std::size_t room =
        std::min<std::size_t>(layout->stride - kSlotHeaderSize, kMaxPacketSize);
    const std::uint32_t compression =
        SelectCompression(calg < 0 ? kCalgUnread : static_cast<std::uint32_t>(calg), wall, room);
    std::unique_ptr<ViewProducer> p(new ViewProducer(viewId, wall, *layout, compression, options,
                                                     events, stats, std::move(shm),
                                                     std::move(source)));
    p->room_ = room;
    return p;
}

ViewProducer::ViewProducer(std::int32_t id, const WallGeometry& wall, const ShareLayout& layout,
                           std::uint32_t code, const DriverOptions& options, const EventSet& events,
                           Statistics& stats, std::unique_ptr<platform::SharedMemory> shm,
                           std::unique_ptr<FrameSource> source)
    : id_(id),
      wall_(wall),
      layout_(layout),
      code_(code),
      options_(options),
      events_(events),
      stats_(stats),
      shm_(std::move(shm)),
      source_(std::move(source)) {}

ViewProducer::~ViewProducer() {
    Stop();
}

void ViewProducer::Start() {
    for (platform::NamedEvent* e : events_) e->Reset();
    for (platform::Event& e : halfFree_) e.Set();
    stop_ = false;
    stopped_.Reset();
    DriverLog("view %d: %ux%u in %ux%u cells of %ux%u, bezel %u, %s", id_, wall_.width,
              wall_.height, wall_.columns, wall_.rows, wall_.CellWidth(), wall_.CellHeight(),
              wall_.bezel, CodeName(code_));
    frames_ = std::thread([this] { FrameThread(); });
    release_ = std::thread([this] { ReleaseThread(); });
}

void ViewProducer::Stop() {
    stop_ = true;
    stopped_.Set();
    if (frames_.joinable()) frames_.join();
    if (release_.joinable()) release_.join();
}

bool ViewProducer::SleepUntil(Clock::time_point deadline) {
    const auto now = Clock::now();
    if (deadline > now) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        stopped_.Wait(static_cast<std::uint32_t>(ms));
    }
    return !stop_;
}

void ViewProducer::EncodeFrame(std::uint32_t number,
                               std::vector<std::vector<std::uint8_t>>& packets) {
    source_->Render(number, picture_);
    packets.resize(wall_.columns * wall_.rows);
    const std::uint64_t fallbacksBefore = encoder_.Fallbacks();
    std::size_t slot = 0;
    for (std::uint32_t c = 0; c < wall_.columns; ++c) {
        for (std::uint32_t r = 0; r < wall_.rows; ++r, ++slot) {
            std::vector<std::uint8_t>& packet = packets[slot];
            packet.resize(room_);
            packet.resize(encoder_.Encode(picture_, wall_, c, r, code_, options_.quality, packet));
        }
    }
    if (encoder_.Fallbacks() != fallbacksBefore)
        stats_.AddFallbacks(encoder_.Fallbacks() - fallbacksBefore);
}

bool ViewProducer::WriteHalf(int half, const std::vector<std::vector<std::uint8_t>>& packets) {
    const bytes::MutBytes bytes = shm_->Bytes().subspan(layout_.HalfOffset(half), layout_.half);
    std::uint16_t count = 0;
    std::size_t slot = 0;
    for (std::uint32_t c = 0; c < wall_.columns; ++c) {
        for (std::uint32_t r = 0; r < wall_.rows; ++r, ++slot) {
            // A cell that could not be encoded is left out of the frame.
            if (packets[slot].empty()) continue;
            if (WriteFrameSlot(bytes, layout_, count, c, r, packets[slot])) ++count;
        }
    }
    return WriteSlotCount(bytes, layout_, count);
}

void ViewProducer::FrameThread() {
    platform::SetCurrentThreadName("drv-frames");
    // Precomputed frames (a still picture is one) are encoded once.
    const std::uint32_t precomputed = source_->Still() ? 1 : options_.precompute;
    std::vector<std::vector<std::vector<std::uint8_t>>> cycle(precomputed);
    for (std::uint32_t i = 0; i < precomputed && !stop_; ++i) EncodeFrame(i, cycle[i]);
    if (precomputed > 0) DriverLog("view %d: %u frames encoded once", id_, precomputed);

    std::vector<std::vector<std::uint8_t>> live;
    const auto period = std::chrono::nanoseconds(options_.fps ? 1'000'000'000 / options_.fps : 0);
    auto due = Clock::now();
    auto intervalStart = Clock::now();
    int half = 1;
    for (std::uint32_t number = 0; !stop_; ++number) {
        if (options_.fps != 0) {
            if (!SleepUntil(due)) break;
            // A frame that comes late moves the schedule instead of bunching.
            due = std::max(due + period, Clock::now() - period);
        }
        const auto& packets = precomputed ? cycle[number % precomputed] : live;
        if (!precomputed) EncodeFrame(number, live);
        while (!stop_ && !halfFree_[half - 1].Wait(kPollMs)) {
        }
        if (stop_) break;
        if (!WriteHalf(half, packets)) DriverLog("view %d: slot count does not fit", id_);
        sentUs_[half - 1] = NowUs();
        events_[ReadyEvent(half)]->Set();
        stats_.AddFrame();
        half = 3 - half;
        const auto now = Clock::now();
        if (options_.reportMs != 0 &&
            now - intervalStart >= std::chrono::milliseconds(options_.reportMs)) {
            const Statistics::Interval i = stats_.TakeInterval();
            const double seconds = std::chrono::duration<double>(now - intervalStart).count();
            DriverLog("view %d: %.1f fps, latency median %.2f ms, p99 %.2f ms (%llu releases)", id_,
                      static_cast<double>(i.frames) / seconds, i.latency.medianMs, i.latency.p99Ms,
                      static_cast<unsigned long long>(i.latency.samples));
            intervalStart = now;
        }
    }
}

void ViewProducer::ReleaseThread() {
    platform::SetCurrentThreadName("drv-release");
    int half = 1;
    while (!stop_) {
        const std::uint32_t r = events_[ReleasedEvent(half)]->Wait(kPollMs);
        if (r == platform::kWaitTimeout) continue;
        if (r != platform::kWaitObject0) {
            DriverLog("view %d: waiting for the service failed", id_);
            stopped_.Wait(kPollMs);
            continue;
        }
        stats_.AddRelease(NowUs() - sentUs_[half - 1]);
        halfFree_[half - 1].Set();
        half = 3 - half;
    }
}

}  // namespace orv::driver
