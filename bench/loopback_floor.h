// What a round trip costs with nothing but loopback sockets in it: a bare
// peer process that answers every frame with a reply frame of a given size,
// parsing nothing. Round-trip benchmarks report their latencies next to this
// floor, measured in the same run with the same frame sizes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "client/controller.h"

namespace lumora::bench {

struct Percentiles {
  double p50 = 0;  // microseconds
  double p99 = 0;
};

// Of samples in seconds.
Percentiles percentiles(std::vector<double> samples);

// Launch options that start the bare peer (this binary again) in place of the
// host; it answers every command with `reply_body`, so that a controller
// parses the same text as with the host.
client::LaunchOptions peer_options(const std::string& reply_body);

// `count` bare round trips (after `warm_up` unrecorded ones) of frames with
// `request_bytes` out and `reply_bytes` back, waiting in poll on both sides;
// seconds each. Empty when the peer could not be started.
std::vector<double> floor_samples(std::size_t request_bytes, std::size_t reply_bytes, int count, int warm_up);

// The seconds `request` takes through the controller, `count` times after
// `warm_up` unrecorded requests; false when one goes unanswered or fails.
bool request_samples(client::Controller& host, const std::string& request, int count, int warm_up,
                     std::vector<double>* samples);

}  // namespace lumora::bench
