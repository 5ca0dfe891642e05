// Fuzz target for the terminal input decoder: arbitrary bytes, fed in
// arbitrary pieces at arbitrary times, must never crash, never grow without
// bound, and only ever produce well-formed events of the kinds a terminal
// reports.
#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "input/event_queue.h"
#include "json/json.h"
#include "terminal/vt/input_decoder.h"
#include "text/utf8.h"

namespace {

using lumora::input::EventQueue;
using lumora::terminal::InputDecoder;

bool allowed_kind(std::string_view kind) {
  for (std::string_view allowed : {"key_down", "key_up", "text", "pointer_down", "pointer_up", "pointer_move", "wheel",
                                   "repaint", "blur", "close", "error", "resource_error"})
    if (kind == allowed) return true;
  return false;
}

bool well_formed_utf8(std::string_view text) {
  while (!text.empty()) {
    const lumora::text::Utf8Char character = lumora::text::decode_utf8(text);
    if (character.status != lumora::text::Utf8Status::valid) return false;
    text.remove_prefix(character.length);
  }
  return true;
}

void check_events(EventQueue& queue) {
  lumora::json::JsonPtr events = queue.take();
  if (!events) return;
  if (cJSON_GetArraySize(events.get()) > static_cast<int>(lumora::input::kMaxQueuedEvents)) std::abort();
  const cJSON* event = nullptr;
  cJSON_ArrayForEach(event, events.get()) {
    if (!allowed_kind(lumora::json::string_member(event, "kind"))) std::abort();
  }
  lumora::json::JsonText printed = lumora::json::print_json(events.get());
  if (!printed || !well_formed_utf8(printed.get())) std::abort();
  lumora::json::JsonPtr parsed(cJSON_Parse(printed.get()));
  if (!parsed) std::abort();
}

std::string printed_events(EventQueue& queue) {
  lumora::json::JsonPtr events = queue.take();
  lumora::json::JsonText printed = lumora::json::print_json(events.get());
  return printed ? std::string(printed.get()) : std::string();
}

// Input fed whole and input fed one byte at a time, decoded within the
// Escape delay, yield the same events: no sequence depends on how the
// terminal's reads happened to cut it. Kept below the bounds that depend on
// what is buffered (an unterminated CSI's 1,024 bytes, the queue's size).
void check_split_invariance(std::string_view input) {
  input = input.substr(0, 1000);
  InputDecoder whole_decoder;
  EventQueue whole_events;
  whole_decoder.feed(input, 0.0, whole_events);
  whole_decoder.decode(0.0, false, whole_events);
  whole_decoder.decode(1.0, true, whole_events);

  InputDecoder split_decoder;
  EventQueue split_events;
  for (char byte : input) {
    split_decoder.feed(std::string_view(&byte, 1), 0.0, split_events);
    split_decoder.decode(0.0, false, split_events);
  }
  split_decoder.decode(1.0, true, split_events);
  if (printed_events(whole_events) != printed_events(split_events)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes steer the run: whether the terminal is interactive,
  // how large the pieces are, and when flushes and drains happen.
  const std::uint8_t mode = data[0];
  const std::size_t piece = 1 + data[1] % 17;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  if (mode & 64) {
    check_split_invariance(rest);
    return 0;
  }

  InputDecoder decoder((mode & 1) != 0);
  EventQueue events;
  double now = 0;
  std::size_t round = 0;
  while (!rest.empty()) {
    const std::size_t count = (mode & 2) ? rest.size() : std::min(piece, rest.size());
    const bool flush = (mode & 4) && (round % 3 == 0);
    decoder.feed_input(rest.substr(0, count), flush, now, events);
    rest.remove_prefix(count);
    now += (mode & 8) ? 0.040 : 0.001;
    if (decoder.buffered_bytes() > lumora::terminal::kMaxInputBytes) std::abort();
    if ((mode & 16) || round % 4 == 3) check_events(events);
    decoder.take_keyboard_enhancement_push();
    ++round;
  }
  decoder.decode(now + 1.0, (mode & 32) != 0, events);
  check_events(events);
  return 0;
}
