// A minimal controller: starts the host next to this program, opens a
// headless terminal, commits a small scene and prints what the terminal
// would show, row by row.
//
//   lumora-client-example [path/to/lumora-host]
#include <cstdio>
#include <filesystem>
#include <string>

#include "client/controller.h"

namespace {

std::string default_host_path(const char* program) {
  std::filesystem::path self(program);
  return (self.parent_path() / "lumora-host").string();
}

bool check(const std::optional<lumora::client::Reply>& reply, const char* what) {
  if (!reply) {
    std::fprintf(stderr, "%s: no reply\n", what);
    return false;
  }
  if (!reply->ok) {
    std::fprintf(stderr, "%s failed: %s\n", what, reply->error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  lumora::client::LaunchOptions options;
  options.host_path = argc > 1 ? argv[1] : default_host_path(argv[0]);
  std::string error;
  auto host = lumora::client::Controller::launch(options, &error);
  if (!host) {
    std::fprintf(stderr, "Could not start %s: %s\n", options.host_path.c_str(), error.c_str());
    return 1;
  }

  // 40 x 10 cells are 320 x 160 logical units (a cell is 8 x 16).
  if (!check(host->request(R"({"op":"open","backend":"terminal","headless":true,"columns":40,"rows":10})"), "open") ||
      !check(host->request(R"({"op":"frame","commands":[)"
                           R"(["begin","#101820"],)"
                           R"(["rect",[0,0,320,160],"",0,"#5080c0",8],)"
                           R"(["text","Hello from Lumora",32,32,"#f0f0f0",16,true],)"
                           R"(["text","40 x 10 cells, headless",32,80,"#a0c0e0",16,true]]})"),
             "frame")) {
    return 1;
  }
  auto snapshot = host->request(R"({"op":"snapshot"})");
  if (!check(snapshot, "snapshot")) return 1;

  const cJSON* rows = cJSON_GetObjectItemCaseSensitive(snapshot->result.get(), "rows_text");
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, rows) {
    if (cJSON_IsString(row)) std::printf("|%s|\n", row->valuestring);
  }

  if (!host->close()) {
    std::fprintf(stderr, "The host did not close cleanly: %s\n", host->standard_error().c_str());
    return 1;
  }
  return 0;
}
