// zentrelle: the video-wall service.
#include "service/host/zentrelle.h"

int main(int argc, char** argv) {
    // The device manager and the adapters' arrival/removal source are not
    // part of this program yet: the host runs its start and stop orders
    // without them.
    return orv::host::ZentrelleMain(argc, argv, nullptr, nullptr);
}
