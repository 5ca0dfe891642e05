// Small helpers for tests that drive a real host through the controller.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/controller.h"
#include "json/json.h"

namespace lumora::test {

// Launches a host; fails the current test (and returns null) when it does
// not start and say hello.
std::unique_ptr<client::Controller> launch_host(const client::LaunchOptions& options);
std::unique_ptr<client::Controller> launch_host(const std::string& host_path,
                                                const std::vector<std::string>& extra_args = {},
                                                const std::vector<std::string>& environment = {});

#ifdef LUMORA_HOST_PATH
// The host the tests drive: the binary built with this tree, or the program
// named by LUMORA_TEST_HOST (tests/support/wine_host.sh runs the Windows
// build under Wine, say).
inline std::string default_host_path() {
  const char* chosen = std::getenv("LUMORA_TEST_HOST");
  return chosen != nullptr && chosen[0] != '\0' ? std::string(chosen) : std::string(LUMORA_HOST_PATH);
}

// Options for the default host, to adjust before launch_host().
inline client::LaunchOptions default_host_options() {
  client::LaunchOptions options;
  options.host_path = default_host_path();
  return options;
}

// The terminal demo built next to the host, or empty when it was not built.
inline std::filesystem::path built_demo_path() {
  const std::filesystem::path demo = std::filesystem::path(LUMORA_HOST_PATH).parent_path() / "lumora-demo";
  return std::filesystem::exists(demo) ? demo : std::filesystem::path();
}

// The host binary built with this tree.
inline std::unique_ptr<client::Controller> launch_default_host(const std::vector<std::string>& extra_args = {},
                                                               const std::vector<std::string>& environment = {}) {
  return launch_host(default_host_path(), extra_args, environment);
}

// The host binary built with this tree, with a headless terminal of that many
// cells open; fails the current test (and returns null) when it cannot.
inline std::unique_ptr<client::Controller> launch_headless_host(int columns, int rows,
                                                                std::string_view colour = "truecolor") {
  std::unique_ptr<client::Controller> host = launch_default_host();
  if (host == nullptr) return nullptr;
  const std::string open = R"({"op":"open","backend":"terminal","headless":true,"columns":)" +
                           std::to_string(columns) + R"(,"rows":)" + std::to_string(rows) + R"(,"color":")" +
                           std::string(colour) + "\"}";
  std::optional<client::Reply> reply = host->request(open);
  const bool opened = reply && reply->ok;
  EXPECT_TRUE(opened) << open << ": " << (reply ? reply->error : "no reply");
  return opened ? std::move(host) : nullptr;
}
#endif

// Parses JSON text; null when it is not valid JSON.
json::JsonPtr parse_json(std::string_view text);

// Unformatted text of a JSON value ("<null>" for a missing one), for messages.
std::string json_text(const cJSON* value);

// The reply arrived and is a success.
::testing::AssertionResult reply_ok(const std::optional<client::Reply>& reply);
// The reply arrived and failed with exactly `message`.
::testing::AssertionResult reply_fails_with(const std::optional<client::Reply>& reply, std::string_view message);

// A member of an object (null when absent); "a.b" descends into nested objects.
const cJSON* member(const cJSON* object, std::string_view path);
// A numeric member, or NaN when absent or not a number.
double number_member(const cJSON* object, std::string_view path);
// A string member, or an empty string when absent or not a string.
std::string string_member(const cJSON* object, std::string_view path);

// A cell of a "snapshot" result as "glyph fg r,g,b / bg r,g,b", with
// " underlined" when set; "<no cell>" outside the grid.
std::string snapshot_cell(const cJSON* snapshot, int column, int row);
// A row of the snapshot's "rows_text"; "<no row>" outside the grid.
std::string snapshot_row(const cJSON* snapshot, int row);

}  // namespace lumora::test
