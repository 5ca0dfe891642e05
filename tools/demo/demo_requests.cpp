#include "demo_requests.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <utility>

#include "json/json.h"

namespace lumora::demo {

namespace {

constexpr double kReplySeconds = 10;

}  // namespace

bool request_ok(client::Controller& host, std::string_view json, client::Reply* reply_out) {
  std::optional<client::Reply> reply = host.request(json, kReplySeconds);
  if (!reply) {
    std::fprintf(stderr, "lumora-demo: no reply from the host\n");
    return false;
  }
  if (!reply->ok) {
    std::fprintf(stderr, "lumora-demo: %s\n", reply->error.c_str());
    return false;
  }
  if (reply_out != nullptr) *reply_out = std::move(*reply);
  return true;
}

std::string print(const cJSON* item) {
  json::JsonText text = json::print_json(item);
  return text ? std::string(text.get()) : std::string();
}

std::string clock_text() {
  std::timespec now{};
  std::timespec_get(&now, TIME_UTC);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%ld", local.tm_hour, local.tm_min, local.tm_sec,
                now.tv_nsec / 100000000);
  return text;
}

}  // namespace lumora::demo
