// The host's command line and connection set-up, run as a process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/controller.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "support/host_fixture.h"

namespace lumora {
namespace {

const std::string kToken(64, 'a');

// Every refusal, a port nobody listens on included, exits with code 2 and
// prints nothing.
TEST(HostCommandLineTest, BadCommandLinesExitWithTwoAndPrintNothing) {
  std::uint16_t dead_port = 0;
  ASSERT_TRUE(platform::listen_loopback(&dead_port).valid());  // closed again at once
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--port"},
      {"--port", "4000"},
      {"--token", kToken},
      {"--port", "0", "--token", kToken},
      {"--port", "65536", "--token", kToken},
      {"--port", "4000x", "--token", kToken},
      {"--token", kToken, "--port"},
      {"--port", "4000", "--token", kToken.substr(0, 63)},
      {"--port", "4000", "--token", kToken.substr(0, 63) + "g"},
      {"--port", "4000", "--token", kToken, "--verbose", "1"},
      {"--port", std::to_string(dead_port), "--token", kToken},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    client::ProcessResult result = client::run_process(test::default_host_path(), args, 10);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(2, result.exit_code);
    EXPECT_EQ("", result.standard_output);
    EXPECT_EQ("", result.standard_error);
  }
}

// Accepts the host's connection and returns the hello body.
std::string accept_hello(const platform::Socket& listener, platform::Socket* connection) {
  *connection = platform::accept_connection(listener, 10);
  if (!connection->valid()) return "<no connection>";
  std::string bytes;
  char chunk[256];
  double deadline = platform::now_seconds() + 10;
  while (bytes.size() < 80 && platform::now_seconds() < deadline) {
    platform::IoResult result = platform::recv_some(*connection, chunk, sizeof chunk);
    if (result.status == platform::IoStatus::ok) {
      bytes.append(chunk, result.bytes);
    } else if (result.status == platform::IoStatus::would_block) {
      platform::wait_socket(*connection, true, false, 0.1, nullptr);
    } else {
      break;
    }
  }
  if (bytes.size() != 80) return "<short hello>";
  const unsigned char expected_header[12] = {'R', 'Z', 'V', '1', 1, 0, 0, 0, 0, 0, 0, 0};
  if (std::memcmp(bytes.data(), expected_header, 12) != 0) return "<bad header>";
  if (bytes.substr(12, 4) != std::string("\x40\0\0\0", 4)) return "<bad length>";
  return bytes.substr(16);
}

TEST(HostCommandLineTest, OptionsInAnyOrderLastValueWinsUpperCaseAccepted) {
  std::uint16_t port = 0;
  platform::Socket listener = platform::listen_loopback(&port);
  ASSERT_TRUE(listener.valid());
  const std::string token = "0123456789ABCDEFabcdef" + std::string(42, 'F');
  client::ProcessResult result;
  std::thread host([&] {
    result = client::run_process(
        test::default_host_path(), {"--token", kToken, "--port", "1", "--token", token, "--port", std::to_string(port)}, 20);
  });
  platform::Socket connection;
  EXPECT_EQ(token, accept_hello(listener, &connection));
  // The controller hanging up before any command ends the host normally.
  connection.close();
  host.join();
  EXPECT_EQ(0, result.exit_code);
  EXPECT_EQ("", result.standard_output);
  EXPECT_EQ("", result.standard_error);
}

}  // namespace
}  // namespace lumora
