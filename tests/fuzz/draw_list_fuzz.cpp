// Fuzz target for draw-command lists: the terminal's validation of a
// committed list and the composition of the cell frame it describes, then
// every way the frame is read back. Each input is one JSON value handed to
// the commit as its "commands" member (non-arrays are refused, which is fine).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumora;
  json::JsonPtr commands = fuzz::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!commands) return 0;
  std::unique_ptr<host::Backend> backend = fuzz::open_headless_terminal(40, 12);
  host::HostErrorBuffer error;
  backend->commit_scene(commands.get(), error.text());
  fuzz::require_valid_error(error);
  fuzz::draw_and_read_back(*backend);
  return 0;
}
