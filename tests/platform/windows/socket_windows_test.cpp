#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/socket.h"

namespace lumora::platform {
namespace {

// Sends everything, waiting while the socket is full; false on failure.
bool send_all(const Socket& socket, const std::string& bytes) {
  std::size_t done = 0;
  const double deadline = now_seconds() + 10;
  while (done < bytes.size() && now_seconds() < deadline) {
    IoResult result = send_some(socket, bytes.data() + done, bytes.size() - done);
    if (result.status == IoStatus::ok) {
      done += result.bytes;
    } else if (result.status == IoStatus::would_block) {
      wait_socket(socket, false, true, 0.1, nullptr);
    } else {
      return false;
    }
  }
  return done == bytes.size();
}

std::string receive(const Socket& socket, std::size_t count) {
  std::string bytes;
  char chunk[65536];
  const double deadline = now_seconds() + 10;
  while (bytes.size() < count && now_seconds() < deadline) {
    IoResult result = recv_some(socket, chunk, sizeof chunk);
    if (result.status == IoStatus::ok) {
      bytes.append(chunk, result.bytes);
    } else if (result.status == IoStatus::would_block) {
      wait_socket(socket, true, false, 0.1, nullptr);
    } else {
      break;
    }
  }
  return bytes;
}

TEST(SocketWindowsTest, LoopbackConnectionCarriesBytesBothWaysAndReportsTheHangUp) {
  std::uint16_t port = 0;
  Socket listener = listen_loopback(&port);
  ASSERT_TRUE(listener.valid());
  ASSERT_NE(port, 0);
  Socket client = connect_loopback(port, 5);
  ASSERT_TRUE(client.valid());
  Socket server = accept_connection(listener, 5);
  ASSERT_TRUE(server.valid());

  // Larger than one socket buffer, so that sends would block on the way.
  std::string big(3 * 1024 * 1024, 'x');
  for (std::size_t index = 0; index < big.size(); index += 4093) big[index] = static_cast<char>(index % 251);
  std::string received;
  ASSERT_TRUE(send_all(client, "hello"));
  EXPECT_EQ(receive(server, 5), "hello");
  ASSERT_TRUE(send_all(server, big.substr(0, 65536)));
  EXPECT_EQ(receive(client, 65536), big.substr(0, 65536));

  // Nothing to read: the wait times out; then the peer hangs up.
  Readiness readiness;
  EXPECT_EQ(wait_socket(client, true, false, 0.02, &readiness), WaitStatus::timed_out);
  EXPECT_FALSE(readiness.readable);
  // Our end of input is seen by the peer, which can still send to us.
  EXPECT_FALSE(peer_closed_sending(server));
  ASSERT_TRUE(shutdown_sending(client));
  const double deadline = now_seconds() + 5;
  while (!peer_closed_sending(server) && now_seconds() < deadline) sleep_seconds(0.01);
  EXPECT_TRUE(peer_closed_sending(server));
  ASSERT_TRUE(send_all(server, "after"));
  EXPECT_EQ(receive(client, 5), "after");
  server.close();
  EXPECT_EQ(wait_socket(client, true, false, 5, &readiness), WaitStatus::ready);
  EXPECT_TRUE(readiness.readable);
  char byte;
  EXPECT_NE(recv_some(client, &byte, 1).status, IoStatus::ok);
}

TEST(SocketWindowsTest, NoListenerFailsTheConnectWithinTheTimeOut) {
  std::uint16_t port = 0;
  ASSERT_TRUE(listen_loopback(&port).valid());  // closed again at once
  const double start = now_seconds();
  EXPECT_FALSE(connect_loopback(port, 5).valid());
  EXPECT_LT(now_seconds() - start, 6);
}

TEST(SocketWindowsTest, WaitsWithoutASocketSleepAndDescriptorsAreRefused) {
  Socket none;
  const double start = now_seconds();
  EXPECT_EQ(wait_socket(none, true, true, 0.02, nullptr), WaitStatus::timed_out);
  EXPECT_GE(now_seconds() - start, 0.015);
  EXPECT_EQ(wait_socket_and(none, true, false, 3, 0.01, nullptr), WaitStatus::failed);
}

}  // namespace
}  // namespace lumora::platform
