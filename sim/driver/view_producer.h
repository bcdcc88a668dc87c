// One view of a wall as the display driver serves it: the view's shared
// memory, the frames written into its halves and the pacing on the events.
//
// The halves are used strictly in turn, 1, 2, 1, ..., as the service reads
// them. A half is written only while it is the driver's: at the start both
// are, and a half comes back when the service sets its "released" event.
//
// Threads (started by Start, joined by Stop and the destructor):
//   "drv-frames"   renders and encodes a frame, waits until the next half is
//                  the driver's, writes the slots and the slot count, sets the
//                  half's "new frame" event; prints the statistics line.
//   "drv-release"  waits for the service's "released" events in turn, records
//                  the latency and hands the half back to the frame thread.
// They share only halfFree_ (two auto-reset events), the atomic signal times
// and the Statistics (its own leaf lock). No lock of this object is held
// across a wait.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "protocol/driver/driver_protocol.h"
#include "sim/driver/cell_encoder.h"
#include "sim/driver/driver_options.h"
#include "sim/driver/frame_source.h"
#include "sim/driver/statistics.h"
#include "sim/driver/wall_geometry.h"

namespace orv::driver {

using EventSet = std::array<platform::NamedEvent*, 4>;  // by kEvent... index

class ViewProducer {
public:
    // Checks the geometry, opens the view's shared memory (the service made
    // it before asking) and the frame source. Nothing (and `error`) when one
    // of them is unusable. `calg` is the service's latest CALG value. The
    // events and statistics outlive the producer.
    static std::unique_ptr<ViewProducer> Create(std::int32_t viewId, const ViewGeometry& view,
                                                std::int32_t calg, const DriverOptions& options,
                                                const EventSet& events, Statistics& stats,
                                                std::string* error);
    ~ViewProducer();
    ViewProducer(const ViewProducer&) = delete;
    ViewProducer& operator=(const ViewProducer&) = delete;

    // Resets the four events (a dropped view can leave one signalled) and
    // starts the threads.
    void Start();
    // Ends and joins the threads; blocks for at most one frame's encoding.
    void Stop();

    std::int32_t Id() const { return id_; }
    std::uint32_t CompressionCode() const { return code_; }
    const WallGeometry& Wall() const { return wall_; }

private:
    ViewProducer(std::int32_t id, const WallGeometry& wall, const ShareLayout& layout,
                 std::uint32_t code, const DriverOptions& options, const EventSet& events,
                 Statistics& stats, std::unique_ptr<platform::SharedMemory> shm,
                 std::unique_ptr<FrameSource> source);

    void FrameThread();
    void ReleaseThread();
    // Renders and encodes frame `number` into `packets` (one per cell, in
    // slot order: column-major).
    void EncodeFrame(std::uint32_t number, std::vector<std::vector<std::uint8_t>>& packets);
    bool WriteHalf(int half, const std::vector<std::vector<std::uint8_t>>& packets);
    // Sleeps until `deadline`; false when stopped meanwhile.
    bool SleepUntil(std::chrono::steady_clock::time_point deadline);

    const std::int32_t id_;
    const WallGeometry wall_;
    const ShareLayout layout_;
    const std::uint32_t code_;
    const DriverOptions options_;
    const EventSet events_;
    Statistics& stats_;
    const std::unique_ptr<platform::SharedMemory> shm_;
    const std::unique_ptr<FrameSource> source_;  // frame thread only
    CellEncoder encoder_;                        // frame thread only
    Picture picture_;                            // frame thread only
    std::size_t room_ = 0;                       // bytes a cell's packet may take

    std::atomic<bool> stop_{false};
    platform::Event stopped_{platform::Event::ResetMode::kManual};
    std::array<platform::Event, 2> halfFree_;            // set: the half is the driver's
    std::array<std::atomic<std::int64_t>, 2> sentUs_{};  // when each half was handed over
    std::thread frames_;
    std::thread release_;
};

}  // namespace orv::driver
