// What the fuzz targets share: the check that every text they produce is
// valid UTF-8 JSON, a headless terminal opened the way a controller opens
// one, and the split of one input into several commands.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "scene/error_text.h"
#include "terminal/terminal_backend.h"

namespace lumora::fuzz {

// Separates the commands of one input; a byte that valid JSON never holds
// outside a string, so that mutations rarely create one by accident.
inline constexpr char kCommandSeparator = '\x1e';
// Commands taken from one input: enough to build a scene and then query it.
inline constexpr std::size_t kMaxCommandsPerInput = 8;

// Aborts (so the fuzzer reports the input) unless `text` is well-formed
// UTF-8 that parses as one JSON value.
inline void require_utf8_json(std::string_view text) {
  if (scene::first_ill_formed_utf8(text) != text.size()) std::abort();
  const char* end = nullptr;
  json::JsonPtr parsed(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
  if (!parsed || end != text.data() + text.size()) std::abort();
}

// Prints `value` as the host would and checks the text strictly, before the
// frame layer's own repair; a null value (a failed operation) is fine.
inline void require_printable(const cJSON* value) {
  if (value == nullptr) return;
  json::JsonText printed = json::print_json(value);
  if (!printed) return;  // out of memory is not a fault of the input
  require_utf8_json(printed.get());
}

// Error texts always are valid UTF-8 on their own.
inline void require_valid_error(const host::HostErrorBuffer& error) {
  std::string_view text(error.c_str());
  if (scene::first_ill_formed_utf8(text) != text.size()) std::abort();
}

inline std::vector<std::string_view> split_commands(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string_view> commands;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (commands.size() < kMaxCommandsPerInput) {
    std::size_t end = rest.find(kCommandSeparator);
    commands.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return commands;
}

inline json::JsonPtr parse(std::string_view text) {
  return json::JsonPtr(cJSON_ParseWithLength(text.data(), text.size()));
}

// A headless truecolor terminal of columns × rows, as "open" makes it.
inline std::unique_ptr<host::Backend> open_headless_terminal(int columns, int rows) {
  std::string open = R"({"op":"open","backend":"terminal","headless":true,"color":"truecolor","columns":)" +
                     std::to_string(columns) + R"(,"rows":)" + std::to_string(rows) + "}";
  host::HostErrorBuffer error;
  json::JsonPtr command = parse(open);
  std::unique_ptr<host::Backend> backend = terminal::open_terminal_backend(command.get(), error.text());
  if (!backend) std::abort();
  return backend;
}

// Draws and presents, then reads the frame back every way a controller can,
// checking each answer and every event.
inline void draw_and_read_back(host::Backend& backend) {
  host::HostErrorBuffer error;
  if (backend.draw_retained_scene(error.text())) {
    backend.present_frame(error.text());
  }
  require_valid_error(error);
  for (const char* text : {R"({"op":"snapshot"})", R"({"op":"ansi","diff":false})", R"({"op":"info"})"}) {
    host::HostErrorBuffer operation_error;
    json::JsonPtr command = parse(text);
    json::JsonPtr result = backend.run_operation(command.get(), operation_error.text());
    require_printable(result.get());
    require_valid_error(operation_error);
  }
  json::JsonPtr events = backend.drain_events();
  require_printable(events.get());
}

}  // namespace lumora::fuzz
