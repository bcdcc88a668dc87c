// The virtual USB controller library, as the service imports it: two calls
// that plug the maker's virtual controller in (at start-up) and out (at
// shutdown). The results are not used.
//
// Declared here, implemented by whichever library the service links: on this
// system the stand-in liborvvirtualusb.so (sim/virtualusb/), which only
// records each call (one line per call, appended to "virtual-controller.log"
// in the runtime folder) so tests can see the order.
#pragma once

extern "C" {
int PlugInVirtualController();
int PlugOutVirtualController();
}
