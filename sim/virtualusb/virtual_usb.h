// The maker's virtual USB controller library, as the service imports it. This
// stand-in only records each call (one line per call, appended to
// "virtual-controller.log" in the runtime folder) so tests can see the order.
#pragma once

extern "C" {
int PlugInVirtualController();
int PlugOutVirtualController();
}
