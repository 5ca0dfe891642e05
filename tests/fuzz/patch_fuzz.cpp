// Fuzz target for segment patches: up to eight patch commands (JSON objects
// separated by 0x1E) applied in turn to a terminal that starts from a small
// segmented scene, each followed by a draw and the read-backs. A failed
// patch must leave the scene as it was, so the draw after it must match the
// draw before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"

namespace {

using namespace lumora;

std::string full_ansi(host::Backend& backend) {
  host::HostErrorBuffer error;
  if (backend.draw_retained_scene(error.text())) backend.present_frame(error.text());
  json::JsonPtr command = fuzz::parse(R"({"op":"ansi","diff":false})");
  json::JsonPtr result = backend.run_operation(command.get(), error.text());
  return cJSON_IsString(result.get()) ? std::string(result->valuestring) : std::string("<none>");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<host::Backend> backend = fuzz::open_headless_terminal(40, 12);
  json::JsonPtr base = fuzz::parse(
      R"({"op":"patch","background":"#102030","upsert":[)"
      R"({"id":"a","bounds":[0,0,80,32],"commands":[["rect",[0,0,80,32],"#ff0000",0,"",0]]},)"
      R"({"id":"b","bounds":[80,0,80,32],"commands":[["text","hi",80,0,"#ffffff",14,false]]}]})");
  host::HostErrorBuffer base_error;
  if (!backend->patch_scene(base.get(), base_error.text())) std::abort();
  std::string before = full_ansi(*backend);
  for (std::string_view text : fuzz::split_commands(data, size)) {
    json::JsonPtr patch = fuzz::parse(text);
    if (!patch) continue;
    host::HostErrorBuffer error;
    bool patched = backend->patch_scene(patch.get(), error.text());
    fuzz::require_valid_error(error);
    std::string after = full_ansi(*backend);
    if (!patched && after != before) std::abort();
    before = after;
    fuzz::draw_and_read_back(*backend);
  }
  return 0;
}
