#include "host/frames.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "json/json.h"
#include "json/json_writer.h"
#include "platform/clock.h"
#include "scene/error_text.h"

namespace lumora::host {
namespace {

void write_u32(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value >> 16);
  out[3] = static_cast<unsigned char>(value >> 24);
}

std::uint32_t read_u32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void write_header(unsigned char* out, std::uint32_t type, std::uint32_t id, std::size_t length) {
  std::memcpy(out, kFrameMagic, sizeof kFrameMagic);
  write_u32(out + 4, type);
  write_u32(out + 8, id);
  write_u32(out + 12, static_cast<std::uint32_t>(length));
}

bool frame_invalid(const HostSession& session, const unsigned char* header) {
  return std::memcmp(header, kFrameMagic, sizeof kFrameMagic) != 0 || read_u32(header + 4) != kFrameCommand ||
         read_u32(header + 8) == 0 || read_u32(header + 8) <= session.last_request_id ||
         read_u32(header + 12) > kMaxBody;
}

}  // namespace

bool allocate_buffers(HostSession& session) {
  // Left uninitialised: the pages are touched only as frames use them.
  session.recv_buffer.reset(new (std::nothrow) unsigned char[kRecvBufferSize]);
  session.send_buffer.reset(new (std::nothrow) unsigned char[kSendBufferSize]);
  session.recv_length = 0;
  session.send_offset = 0;
  session.send_length = 0;
  return session.recv_buffer && session.send_buffer;
}

bool queue_frame(HostSession& session, std::uint32_t type, std::uint32_t id, const void* body,
                 std::size_t length) {
  if (length > kMaxBody) return false;
  std::size_t frame_length = length + kFrameHeaderSize;
  if (frame_length > kSendBufferSize - session.send_length) return false;
  unsigned char* storage = session.send_buffer.get();
  if (session.send_offset + session.send_length + frame_length > kSendBufferSize) {
    std::memmove(storage, storage + session.send_offset, session.send_length);
    session.send_offset = 0;
  }
  unsigned char* out = storage + session.send_offset + session.send_length;
  write_header(out, type, id, length);
  if (length > 0) std::memcpy(out + kFrameHeaderSize, body, length);
  session.send_length += frame_length;
  return true;
}

QueueResult queue_json_frame(HostSession& session, std::uint32_t type, std::uint32_t id, const cJSON* body) {
  // Printed straight behind the queued bytes: no allocation, no regrowing
  // copy and no second copy into the queue, with the printer's own bytes.
  std::size_t tail_start = session.send_offset + session.send_length;
  std::size_t tail = kSendBufferSize - tail_start;
  if (tail > kFrameHeaderSize) {
    std::size_t room = std::min(tail - kFrameHeaderSize, kMaxBody);
    unsigned char* out = session.send_buffer.get() + tail_start;
    char* text = reinterpret_cast<char*>(out + kFrameHeaderSize);
    if (std::size_t length = json::write_json(body, text, room); length > 0) {
      std::string_view printed(text, length);
      if (scene::first_ill_formed_utf8(printed) == printed.size()) {
        write_header(out, type, id, printed.size());
        session.send_length += kFrameHeaderSize + printed.size();
        return QueueResult::queued;
      }
    }
  }
  // A body that fits only once the queue is compacted, one above the frame
  // limit and one that needs repair take the allocating path.
  json::JsonText text = json::print_json(body);
  if (!text) return QueueResult::no_room;
  std::string_view printed(text.get());
  std::string repaired;
  if (scene::first_ill_formed_utf8(printed) != printed.size()) {
    // Ill-formed bytes are only ever inside strings (everything cJSON writes
    // itself is ASCII), so replacing them keeps the JSON intact.
    repaired = scene::to_valid_utf8(printed);
    printed = repaired;
  }
  if (printed.size() > kMaxBody) return QueueResult::too_large;
  return queue_frame(session, type, id, printed.data(), printed.size()) ? QueueResult::queued : QueueResult::no_room;
}

void flush_send_queue(HostSession& session) {
  session.send_would_block = false;
  std::size_t sent_total = 0;
  while (session.send_length > 0 && sent_total < kIoBudget) {
    std::size_t chunk = session.send_length;
    if (chunk > kIoBudget - sent_total) chunk = kIoBudget - sent_total;
    platform::IoResult result =
        platform::send_some(session.socket, session.send_buffer.get() + session.send_offset, chunk);
    if (result.status == platform::IoStatus::ok) {
      session.send_offset += result.bytes;
      session.send_length -= result.bytes;
      sent_total += result.bytes;
      if (session.send_length == 0) session.send_offset = 0;
      continue;
    }
    if (result.status == platform::IoStatus::would_block) {
      session.send_would_block = true;
      break;
    }
    session.stopped = true;
    return;
  }
  if (sent_total > 0 || session.send_length == 0) {
    session.send_stalled_since = 0;
    return;
  }
  // Nothing was accepted. A controller that shut down its sending side and
  // reads no more would hold the host forever: with this much unread, the
  // host reads nothing either, so it never sees the end of input. After a
  // grace period such a connection ends as if the controller had hung up.
  const double now = platform::now_seconds();
  if (session.send_stalled_since == 0) {
    session.send_stalled_since = now;
  } else if (now - session.send_stalled_since >= kAbandonedSendSeconds &&
             platform::peer_closed_sending(session.socket)) {
    session.stopped = true;
  }
}

void receive_frames(HostSession& session) {
  std::size_t received_total = 0;
  while (received_total < kIoBudget && session.recv_length < kRecvBufferSize) {
    std::size_t chunk = kRecvBufferSize - session.recv_length;
    if (chunk > kIoBudget - received_total) chunk = kIoBudget - received_total;
    platform::IoResult result =
        platform::recv_some(session.socket, session.recv_buffer.get() + session.recv_length, chunk);
    if (result.status == platform::IoStatus::ok) {
      session.recv_length += result.bytes;
      received_total += result.bytes;
      // A short read took all that had arrived: asking again would only
      // learn that the socket is empty, one system call per request for
      // nothing. What arrives meanwhile wakes the next wait.
      if (result.bytes < chunk) return;
      continue;
    }
    if (result.status != platform::IoStatus::would_block) session.stopped = true;
    return;
  }
}

void parse_frames(HostSession& session, CommandHandler handler) {
  if (session.closing) return;
  unsigned char* buffer = session.recv_buffer.get();
  std::size_t consumed = 0;
  int dispatched = 0;
  while (!session.stopped && dispatched < kMaxFramesPerTurn && session.send_length <= kReadThreshold) {
    std::size_t available = session.recv_length - consumed;
    if (available < kFrameHeaderSize) break;
    const unsigned char* header = buffer + consumed;
    if (frame_invalid(session, header)) {
      session.protocol_error = true;
      session.stopped = true;
      break;
    }
    std::uint32_t id = read_u32(header + 8);
    std::size_t length = read_u32(header + 12);
    if (available - kFrameHeaderSize < length) break;
    session.last_request_id = id;
    handler(session, id, reinterpret_cast<const char*>(header + kFrameHeaderSize), length);
    consumed += kFrameHeaderSize + length;
    ++dispatched;
    if (session.closing) break;
  }
  if (consumed > 0) {
    std::memmove(buffer, buffer + consumed, session.recv_length - consumed);
    session.recv_length -= consumed;
  }
}

bool reading_allowed(const HostSession& session) {
  return !session.closing && session.send_length <= kReadThreshold && session.recv_length < kRecvBufferSize;
}

bool whole_frame_buffered(const HostSession& session) {
  if (session.recv_length < kFrameHeaderSize || session.send_length > kReadThreshold) return false;
  std::size_t length = read_u32(session.recv_buffer.get() + 12);
  return length > kMaxBody || session.recv_length - kFrameHeaderSize >= length;
}

}  // namespace lumora::host
