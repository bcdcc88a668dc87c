// A wall described by the registry, for tests and demos until the control
// channel builds walls: the REG_SZ value TestWallLayout under
// Software\ORVVideoWallControlSet,
//
//   TestWallLayout=REG_SZ:<columns> <rows> <width> <height> <monitor width>
//                  <monitor height> <id>:<column>:<row> ...
//
// e.g. "2 2 2560 1440 1280 720 1:0:0 2:1:0 3:0:1 4:1:1". Once a driver is
// connected and every named monitor is attached, the wall is built and its
// monitors placed; a named monitor that comes back is placed again, and a
// wall lost with its driver is built again for the next driver.
//
// Thread "orv-testwall" (owned; Start starts it, the destructor joins it) polls
// every 100 ms and calls the wall object; it holds no lock of its own.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

#include "service/wall/ui.h"

namespace orv::wall {

inline constexpr char kTestWallLayoutValue[] = "TestWallLayout";

struct TestWallLayout {
    int columns = 0, rows = 0, width = 0, height = 0, monitorWidth = 0, monitorHeight = 0;
    std::vector<CellPlacement> cells;
};

// nullopt when the text is not a layout as above.
std::optional<TestWallLayout> ParseTestWallLayout(std::string_view text);

class CTestWallSeam final : public IWallRecords {
public:
    CTestWallSeam(COvwUI& ui, TestWallLayout layout);
    ~CTestWallSeam() override;
    // Starts the thread; call once the wall object holds the seam.
    void Start();

    std::vector<std::vector<CellPlacement>> Walls() const override;
    std::vector<int> RemoveWall(int wallId) override;

private:
    void Run();

    COvwUI& ui_;
    const TestWallLayout layout_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Gives `ui` the seam of the registry value and starts it, when the value
// is set and valid.
void InstallRegistryTestWall(COvwUI& ui);

}  // namespace orv::wall
