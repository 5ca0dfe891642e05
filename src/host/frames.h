// Frames on the wire: a 16-byte header ("RZV1", type, id, length, each
// little-endian) and a body. Parsing works in place in the fixed receive
// buffer; queueing copies each body once into the fixed send storage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/session.h"
#include "json/json.h"
#include "scene/limits.h"

namespace lumora::host {

using scene::kFrameCommand;
using scene::kFrameEvent;
using scene::kFrameFinal;
using scene::kFrameHello;
using scene::kFrameMagic;
using scene::kFrameReply;

using scene::kIoBudget;
using scene::kMaxFramesPerTurn;

// Allocates both buffers once; false when memory is short.
bool allocate_buffers(HostSession& session);

// Appends one frame to the send queue; false when the body is too long or the
// frame does not fit in the free storage. Nothing is sent here.
bool queue_frame(HostSession& session, std::uint32_t type, std::uint32_t id, const void* body,
                 std::size_t length);

enum class QueueResult {
  queued,
  too_large,  // the printed body exceeds kMaxBody: it can never be sent
  no_room,    // the send queue lacks the space, or printing ran out of memory
};

// Queues `body` as printed by cJSON_PrintUnformatted, byte for byte, except
// that ill-formed UTF-8 inside its strings (bytes cJSON copies unchecked)
// becomes U+FFFD, so that every frame the controller reads is valid JSON.
QueueResult queue_json_frame(HostSession& session, std::uint32_t type, std::uint32_t id, const cJSON* body);

// How long queued bytes may stay unaccepted by a controller that has shut
// down its sending side before the connection ends.
inline constexpr double kAbandonedSendSeconds = 5.0;

// Sends up to kIoBudget queued bytes without blocking; ends the connection
// when the controller has shut down its sending side and accepted nothing
// for kAbandonedSendSeconds.
void flush_send_queue(HostSession& session);

// Reads up to kIoBudget bytes into the free tail of the receive buffer,
// stopping after a read shorter than asked for: the socket held no more.
void receive_frames(HostSession& session);

// Called with each complete command frame's id and body (pointing into the
// receive buffer, valid until the call returns).
using CommandHandler = void (*)(HostSession& session, std::uint32_t id, const char* body, std::size_t length);

// Dispatches buffered command frames (at most kMaxFramesPerTurn) and moves
// the remaining bytes to the start of the receive buffer. An invalid frame
// sets `protocol_error` and `stopped`.
void parse_frames(HostSession& session, CommandHandler handler);

// Reading is allowed: not closing, the send queue below the read threshold,
// and room left in the receive buffer.
bool reading_allowed(const HostSession& session);

// A whole frame is buffered and the send queue lets it be parsed (a length
// above the maximum counts: the parser rejects it without its body).
bool whole_frame_buffered(const HostSession& session);

}  // namespace lumora::host
