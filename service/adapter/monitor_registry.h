// What an adapter tells the wall model about its monitors (implemented by the
// wall object). The adapter calls these from its own threads (notification
// reader, plug worker) and from its destruction; none of them is called with
// the adapter's ModeSetLock held: the wall model takes WallLayoutLock, which
// comes first.
#pragma once

#include <vector>

namespace orv::adapter {

class COvwMonitor;

class IMonitorRegistry {
public:
    virtual ~IMonitorRegistry() = default;
    // A monitor appeared and its EDID was read: give it its id, show the
    // identification picture, tell the panel. 0, or -1 when no id is free.
    virtual int AssignMonitorId(COvwMonitor& monitor) = 0;
    // The monitor is about to be destroyed: forget its cell and its id's map
    // entry (the id stays taken), tell the panel.
    virtual void MonitorLeaves(COvwMonitor& monitor) = 0;
    // An adapter is being torn down with these monitors: they are marked as
    // being destroyed and reported in one notice; until EndAdapterTeardown
    // their MonitorLeaves calls send no notice of their own.
    virtual void BeginAdapterTeardown(const std::vector<COvwMonitor*>& monitors) = 0;
    virtual void EndAdapterTeardown() = 0;
};

}  // namespace orv::adapter
