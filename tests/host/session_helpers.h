// In-process helpers for host tests: a session with real buffers and no
// connection, and a reader for the frames it queued.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "host/frames.h"
#include "host/session.h"
#include "json/json.h"
#include "support/fake_backend.h"

namespace lumora::host {

struct QueuedFrame {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::string body;
  JsonPtr json() const { return JsonPtr(cJSON_ParseWithLength(body.data(), body.size())); }
};

inline std::uint32_t read_le32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// A whole frame as bytes, for feeding the parser.
inline std::string frame_bytes(std::uint32_t type, std::uint32_t id, std::string_view body) {
  std::string bytes = "RZV1";
  for (std::uint32_t field : {type, id, static_cast<std::uint32_t>(body.size())}) {
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>(field >> (8 * k));
  }
  return bytes.append(body);
}

// Both backend names open the scripted fake.
inline constexpr BackendFactory kFakeBackends[] = {
    {"terminal", open_fake_backend},
    {"window", open_fake_backend},
};

inline std::unique_ptr<HostSession> make_session() {
  auto session = std::make_unique<HostSession>();
  EXPECT_TRUE(allocate_buffers(*session));
  session->backends = kFakeBackends;
  return session;
}

// Opens the fake as the session's backend, as "open" would.
inline Backend& open_fake(HostSession& session) {
  session.backend = open_fake_backend(nullptr, HostErrorBuffer().text());
  session.backend_open = true;
  return *session.backend;
}

// Takes every queued frame out of the send queue, as a flush would.
inline std::vector<QueuedFrame> take_queued(HostSession& session) {
  std::vector<QueuedFrame> frames;
  const unsigned char* at = session.send_buffer.get() + session.send_offset;
  std::size_t left = session.send_length;
  while (left >= 16) {
    QueuedFrame frame;
    EXPECT_EQ(0, std::memcmp(at, "RZV1", 4));
    frame.type = read_le32(at + 4);
    frame.id = read_le32(at + 8);
    std::size_t length = read_le32(at + 12);
    EXPECT_LE(length + 16, left);
    if (length + 16 > left) break;
    frame.body.assign(reinterpret_cast<const char*>(at + 16), length);
    frames.push_back(std::move(frame));
    at += 16 + length;
    left -= 16 + length;
  }
  EXPECT_EQ(0u, left);
  session.send_offset = 0;
  session.send_length = 0;
  return frames;
}

}  // namespace lumora::host
