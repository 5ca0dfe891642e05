#include "support/host_fixture.h"

#include <cmath>

namespace lumora::test {

std::unique_ptr<client::Controller> launch_host(const client::LaunchOptions& options) {
  std::string error;
  std::unique_ptr<client::Controller> host = client::Controller::launch(options, &error);
  EXPECT_NE(host, nullptr) << "launching " << options.host_path << ": " << error;
  return host;
}

std::unique_ptr<client::Controller> launch_host(const std::string& host_path,
                                                const std::vector<std::string>& extra_args,
                                                const std::vector<std::string>& environment) {
  client::LaunchOptions options;
  options.host_path = host_path;
  options.extra_args = extra_args;
  options.environment = environment;
  return launch_host(options);
}

json::JsonPtr parse_json(std::string_view text) {
  return json::JsonPtr(cJSON_ParseWithLength(text.data(), text.size()));
}

std::string json_text(const cJSON* value) {
  if (value == nullptr) return "<null>";
  json::JsonText text = json::print_json(value);
  return text ? std::string(text.get()) : std::string("<unprintable>");
}

::testing::AssertionResult reply_ok(const std::optional<client::Reply>& reply) {
  if (!reply) return ::testing::AssertionFailure() << "no reply";
  if (!reply->ok) return ::testing::AssertionFailure() << "reply failed: " << reply->body;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult reply_fails_with(const std::optional<client::Reply>& reply, std::string_view message) {
  if (!reply) return ::testing::AssertionFailure() << "no reply";
  if (reply->ok) return ::testing::AssertionFailure() << "reply succeeded: " << reply->body;
  if (reply->error != message) {
    return ::testing::AssertionFailure() << "error is \"" << reply->error << "\", expected \"" << message << "\"";
  }
  return ::testing::AssertionSuccess();
}

const cJSON* member(const cJSON* object, std::string_view path) {
  const cJSON* current = object;
  while (current != nullptr) {
    std::size_t dot = path.find('.');
    std::string name(path.substr(0, dot));
    current = cJSON_GetObjectItemCaseSensitive(current, name.c_str());
    if (dot == std::string_view::npos) return current;
    path.remove_prefix(dot + 1);
  }
  return nullptr;
}

double number_member(const cJSON* object, std::string_view path) {
  const cJSON* value = member(object, path);
  return cJSON_IsNumber(value) ? value->valuedouble : std::nan("");
}

std::string string_member(const cJSON* object, std::string_view path) {
  const cJSON* value = member(object, path);
  return cJSON_IsString(value) && value->valuestring != nullptr ? value->valuestring : "";
}

std::string snapshot_cell(const cJSON* snapshot, int column, int row) {
  const int columns = static_cast<int>(number_member(snapshot, "columns"));
  const cJSON* item = cJSON_GetArrayItem(member(snapshot, "cells"), column + row * columns);
  if (item == nullptr || column < 0 || column >= columns) return "<no cell>";
  auto rgb = [&](const char* name) {
    const cJSON* channels = member(item, name);
    std::string text;
    for (int i = 0; i < 3; ++i) {
      const cJSON* channel = cJSON_GetArrayItem(channels, i);
      text += (i == 0 ? "" : ",") + (cJSON_IsNumber(channel) ? std::to_string(channel->valueint) : "?");
    }
    return text;
  };
  std::string text = string_member(item, "text") + " " + rgb("foreground") + " / " + rgb("background");
  if (cJSON_IsTrue(member(item, "underline"))) text += " underlined";
  return text;
}

std::string snapshot_row(const cJSON* snapshot, int row) {
  const cJSON* item = cJSON_GetArrayItem(member(snapshot, "rows_text"), row);
  return cJSON_IsString(item) ? item->valuestring : "<no row>";
}

}  // namespace lumora::test
