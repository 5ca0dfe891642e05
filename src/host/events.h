// Forwarding of the open backend's queued events, each as its own frame.
#pragma once

#include "host/session.h"

namespace lumora::host {

// Drains the open backend once and queues every event as a type 101 frame;
// follows "suspend" and "resume". A full send queue ends the connection with
// the "event_overload" final notice. Does nothing without a backend or while
// closing.
void forward_events(HostSession& session);

}  // namespace lumora::host
