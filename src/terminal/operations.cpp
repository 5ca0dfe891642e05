#include "terminal/operations.h"

#include <cmath>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/files.h"
#include "terminal/drawing/text.h"
#include "terminal/snapshot.h"
#include "terminal/terminal_backend.h"
#include "terminal/vt/encoder.h"
#include "text/hex.h"
#include "text/utf8.h"

namespace lumora::terminal {

namespace {

using scene::ErrorText;
using json::JsonPtr;
using json::add_bool;
using json::add_number;

// A "reload_image" source is bounded like the image sources of a scene: the
// longest data URI whose payload decodes to at most 8 MiB.

// Written when building a result ran out of memory and the operation has no
// allocation message of its own.
constexpr const char* kResultAllocationFailed = "Cannot allocate terminal operation result";

const cJSON* member(const cJSON* command, const char* name) { return cJSON_GetObjectItemCaseSensitive(command, name); }

// A boolean-or-number member, or the default.
bool flag_member(const cJSON* command, const char* name, bool fallback) {
  return json::flag_value(member(command, name)).value_or(fallback);
}

JsonPtr json_null() { return JsonPtr(cJSON_CreateNull()); }

// A viewport side given to "configure": a finite whole number in 1..kMaxGridSide.
bool viewport_side(const cJSON* item, std::int32_t* side) {
  if (!cJSON_IsNumber(item)) return false;
  double value = item->valuedouble;
  if (!std::isfinite(value) || value != std::trunc(value) || value < 1 || value > kMaxGridSide) return false;
  *side = static_cast<std::int32_t>(value);
  return true;
}

using OperationHandler = JsonPtr (*)(TerminalBackend& backend, const cJSON* command, ErrorText error);

JsonPtr reload_image(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  const cJSON* source = member(command, "source");
  if (!cJSON_IsString(source) || source->valuestring == nullptr ||
      std::string_view(source->valuestring).size() > scene::kMaxPngDataUriBytes) {
    error.set("Invalid terminal image source");
    return nullptr;
  }
  backend.image_cache().remove(source->valuestring);
  backend.note_image_reloaded();
  return make_terminal_info(backend);
}

JsonPtr snapshot(TerminalBackend& backend, const cJSON*, ErrorText error) {
  return make_snapshot(backend.current_frame(), backend.columns(), backend.rows(), error);
}

JsonPtr info(TerminalBackend& backend, const cJSON*, ErrorText) { return make_terminal_info(backend); }

// The ANSI text of the current frame; never marks anything as written.
JsonPtr ansi(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  ByteBuffer encoded;
  if (!backend.encode_current_frame(flag_member(command, "diff", true), encoded)) {
    error.set("No terminal frame or ANSI allocation failed");
    return nullptr;
  }
  JsonPtr text(cJSON_CreateString(encoded.c_str()));
  if (!text) error.set("No terminal frame or ANSI allocation failed");
  return text;
}

JsonPtr feed_input(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  std::string bytes;
  const cJSON* hex = member(command, "hex");
  if (cJSON_IsString(hex) && hex->valuestring != nullptr) {
    std::string_view digits(hex->valuestring);
    if (digits.size() % 2 != 0) {
      error.set("Input hex must have complete bytes");
      return nullptr;
    }
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      int high = text::hex_digit_value(digits[i]);
      int low = text::hex_digit_value(digits[i + 1]);
      if (high < 0 || low < 0) {
        error.set("Invalid input hex");
        return nullptr;
      }
      bytes.push_back(static_cast<char>(high << 4 | low));
    }
  } else {
    const cJSON* data = member(command, "data");
    if (cJSON_IsString(data) && data->valuestring != nullptr) bytes = data->valuestring;
  }
  JsonPtr result = json_null();
  if (!result) {
    error.set(kResultAllocationFailed);
    return nullptr;
  }
  backend.feed_input(bytes, flag_member(command, "flush", false));
  return result;
}

JsonPtr set_size(TerminalBackend& backend, const cJSON*, ErrorText) {
  backend.poll_size();
  return make_terminal_info(backend);
}

JsonPtr text_input(TerminalBackend&, const cJSON*, ErrorText) { return json_null(); }

JsonPtr set_title(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  const cJSON* title = member(command, "title");
  JsonPtr result = json_null();
  if (!result) {
    error.set("Cannot allocate title");
    return nullptr;
  }
  try {
    backend.set_title(cJSON_IsString(title) && title->valuestring != nullptr ? title->valuestring : "");
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate title");
    return nullptr;
  }
  return result;
}

JsonPtr configure(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  ColourMode mode = backend.colour_mode();
  if (const cJSON* colour = member(command, "color")) {
    std::string_view name = cJSON_IsString(colour) && colour->valuestring != nullptr ? colour->valuestring : "";
    std::optional<ColourMode> named = colour_mode_from_name(name);
    if (!named) {
      error.set("Invalid color mode");
      return nullptr;
    }
    mode = *named;
  }

  std::int32_t columns = backend.columns();
  std::int32_t rows = backend.rows();
  const cJSON* columns_item = member(command, "columns");
  const cJSON* rows_item = member(command, "rows");
  if (columns_item != nullptr || rows_item != nullptr) {
    // An interactive terminal's size is the console window's: only headless
    // terminals take a size from the controller.
    bool acceptable = backend.headless() && (columns_item == nullptr || viewport_side(columns_item, &columns)) &&
                      (rows_item == nullptr || viewport_side(rows_item, &rows)) &&
                      grid_size_acceptable(columns, rows);
    if (!acceptable) {
      error.set("Invalid or terminal-owned viewport");
      return nullptr;
    }
  }

  JsonPtr result = json_null();
  if (!result) {
    error.set(kResultAllocationFailed);
    return nullptr;
  }
  backend.set_colour_mode(mode);
  backend.set_size(columns, rows);  // checked above; the same size does nothing
  return result;
}

JsonPtr capture(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  const cJSON* path = member(command, "path");
  if (!cJSON_IsString(path) || path->valuestring == nullptr) {
    error.set("Capture needs a path");
    return nullptr;
  }
  ByteBuffer encoded;
  if (!backend.encode_current_frame(false, encoded)) {
    error.set("Cannot encode capture");
    return nullptr;
  }
  std::string file_path = path->valuestring;
  if (file_path.empty() || !text::is_valid_utf8(file_path)) {
    error.set("Cannot open terminal capture path");
    return nullptr;
  }
  JsonPtr result = json_null();
  if (!result) {
    error.set(kResultAllocationFailed);
    return nullptr;
  }
  switch (platform::write_file_replacing(file_path, encoded.view())) {
    case platform::FileWriteStatus::ok:
      return result;
    case platform::FileWriteStatus::open_failed:
      error.set("Cannot open terminal capture path");
      return nullptr;
    case platform::FileWriteStatus::write_failed:
      error.set("Cannot write terminal capture");
      return nullptr;
  }
  return nullptr;
}

JsonPtr measure(TerminalBackend&, const cJSON* command, ErrorText error) { return measure_operation(command, error); }

JsonPtr measure_many(TerminalBackend&, const cJSON* command, ErrorText error) {
  return measure_many_operation(command, error);
}

struct Operation {
  std::string_view name;
  OperationHandler handler;
  // Reported when memory runs out inside the handler.
  const char* allocation_message;
};

constexpr Operation kOperations[] = {
    {"reload_image", reload_image, kResultAllocationFailed},
    {"measure", measure, "Cannot allocate text metrics"},
    {"measure_many", measure_many, "Cannot allocate text metrics"},
    {"snapshot", snapshot, "Cannot allocate terminal snapshot"},
    {"info", info, kResultAllocationFailed},
    {"ansi", ansi, "No terminal frame or ANSI allocation failed"},
    // The host answers "frame" itself as a scene commit; the name stays an
    // alias of "ansi" for callers that reach the table directly.
    {"frame", ansi, "No terminal frame or ANSI allocation failed"},
    {"feed_input", feed_input, kResultAllocationFailed},
    {"set_size", set_size, kResultAllocationFailed},
    {"text_input", text_input, kResultAllocationFailed},
    {"set_title", set_title, "Cannot allocate title"},
    {"configure", configure, kResultAllocationFailed},
    {"capture", capture, "Cannot encode capture"},
};

}  // namespace

JsonPtr run_terminal_operation(TerminalBackend& backend, const cJSON* command, ErrorText error) {
  const cJSON* op = member(command, "op");
  std::string_view name = cJSON_IsString(op) && op->valuestring != nullptr ? op->valuestring : "";
  for (const Operation& operation : kOperations) {
    if (operation.name != name) continue;
    try {
      JsonPtr result = operation.handler(backend, command, error);
      if (!result && error.empty()) error.set(operation.allocation_message);
      return result;
    } catch (const std::bad_alloc&) {
      error.set(operation.allocation_message);
      return nullptr;
    }
  }
  if (name.starts_with("clipboard_")) {
    error.set("Native terminal clipboard service is unavailable; use terminal paste");
    return nullptr;
  }
  error.set("Unsupported native terminal operation");
  return nullptr;
}

JsonPtr make_terminal_info(const TerminalBackend& backend) {
  JsonPtr info(cJSON_CreateObject());
  if (!info) return nullptr;
  cJSON* object = info.get();
  const double width = static_cast<double>(backend.columns()) * scene::kCellWidthUnits;
  const double height = static_cast<double>(backend.rows()) * scene::kCellHeightUnits;
  const TerminalScene& scene = backend.scene();
  const SceneCounters& counters = scene.counters();

  bool built = cJSON_AddStringToObject(object, "renderer", "native-cells") &&
               cJSON_AddStringToObject(object, "backend", "terminal") && add_number(object, "width", width) &&
               add_number(object, "height", height) && add_number(object, "scale", 1) &&
               add_number(object, "resource_revision", static_cast<double>(backend.resource_revision())) &&
               add_number(object, "columns", backend.columns()) && add_number(object, "rows", backend.rows()) &&
               add_number(object, "text_row_height", scene::kCellHeightUnits);
  if (!built) return nullptr;
  const double pixel_size[2] = {width, height};
  cJSON* pixel_array = cJSON_CreateDoubleArray(pixel_size, 2);
  if (!pixel_array || !cJSON_AddItemToObject(object, "pixel_size", pixel_array)) {
    cJSON_Delete(pixel_array);
    return nullptr;
  }
  const std::pair<const char*, std::uint64_t> counts[] = {
      {"retained_scene_budget", scene.retained_budget()},
      {"retained_scene_bytes", scene.retained_bytes()},
      {"image_bytes", backend.image_cache().image_bytes()},
      {"image_count", static_cast<std::uint64_t>(backend.image_cache().image_count())},
      {"segment_count", scene.segment_count()},
      {"command_count", scene.command_count()},
      {"commands_touched", counters.commands_touched},
      {"commands_replayed", counters.commands_replayed},
      {"last_commands_touched", counters.last_commands_touched},
      {"last_commands_replayed", counters.last_commands_replayed},
      {"segments_updated", counters.segments_updated},
      {"segments_removed", counters.segments_removed},
      {"segments_tested", counters.segments_tested},
      {"last_segments_tested", counters.last_segments_tested},
      {"scene_patch_updates", counters.scene_patch_updates},
      {"unchanged_segments", counters.unchanged_segments},
      {"cell_frames_composed", counters.cell_frames_composed},
      {"cell_cache_hits", counters.cell_cache_hits},
      {"ansi_frames_encoded", backend.ansi_frames_encoded()},
      {"ansi_bytes_encoded", backend.ansi_bytes_encoded()},
      {"terminal_bytes_written", backend.terminal_bytes_written()},
      {"terminal_output_pending_bytes", backend.output_pending_bytes()},
  };
  built = add_bool(object, "visible", !backend.headless()) && add_bool(object, "vsync", false) &&
          add_bool(object, "scene_patches", true) && add_bool(object, "cache_scene", true) &&
          add_bool(object, "images", true);
  for (const auto& [name, value] : counts) built = built && add_number(object, name, static_cast<double>(value));
  if (!built) return nullptr;
  return info;
}

}  // namespace lumora::terminal
