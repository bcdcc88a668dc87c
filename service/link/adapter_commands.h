// The service's command exchanges with an adapter over its link.
//
// SendControlCommand sends a 43-byte command and reads (without examining) the
// reply; SendTopo sends the two-screen topology and checks its reply. Both log
// through the service log with the system's fixed texts.
//
// Called on whichever thread runs the adapter operation (start, mode set,
// plug-out). Each call blocks for one exchange (the link's transfer time-out
// at most) and takes no lock of its own: the link's exchange lock pairs the
// request with its reply.
#pragma once

#include "protocol/adapter/packets.h"
#include "service/link/comm_base.h"

namespace orv::link {

// Exchanges the command on 0x02/0x82 and logs the link result and the bytes
// received. Always returns 0: the reply is not examined.
int SendControlCommand(COvwCommBase& link, int dataType, const adapter::ControlBody& body);

// Logs the entries, exchanges the topology command and checks the 48-byte
// reply; returns the check that failed (kNone on success), which callers only
// log.
adapter::ReplyFault SendTopo(COvwCommBase& link, const adapter::ScreenEntry& s0,
                             const adapter::ScreenEntry& s1, int showIdentification);

}  // namespace orv::link
