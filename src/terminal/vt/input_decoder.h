// The terminal input decoder: splits the byte stream a terminal sends
// (UTF-8 text mixed with escape sequences for keys, mouse, focus, bracketed
// paste and replies to the host's queries) and turns it into events.
//
// A pure state machine: it is fed bytes and told the time, and never reads
// the terminal or a clock itself, so that any split of the stream decodes
// the same once complete. Main thread only.
//
// Use from the backend:
//   open:        decoder.set_interactive(true) once a real terminal is taken over.
//   drain:       decoder.feed(bytes_from_worker, now, events);   // the worker's input
//                decoder.decode(now, /*flush=*/false, events);    // every drain, headless too
//   feed_input:  decoder.feed_input(bytes, flush, now, events);
//   after both:  if (decoder.take_keyboard_enhancement_push())
//                  pending_output.append(kKeyboardEnhancementPush);
//   close:       pop the enhancement when decoder.keyboard_enhanced().
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "input/event_queue.h"
#include "scene/limits.h"

namespace lumora::terminal {

// Undecoded input is bounded; more is discarded with a resource error.
inline constexpr std::size_t kMaxInputBytes = 16 * 1024 * 1024;
// A bracketed paste keeps at most this many bytes; a longer one is reported
// and dropped whole.
inline constexpr std::size_t kMaxPasteBytes = 8 * 1024 * 1024;
// The escaped paste text must leave room for {"kind":"text","text":"","paste":true}
// (38 bytes) so that the finished event fits in one 16 MiB frame.
inline constexpr std::size_t kMaxEscapedPasteBytes = scene::kMaxBody - 38;
// A lone Escape is the Escape key only once no sequence followed it this long.
inline constexpr double kLoneEscapeSeconds = 0.035;
// A terminal's reply to a query arrives whole within moments; a control-string
// introducer still unterminated after this long was typed (Alt+]) and is
// decoded as Escape and a key, so that it cannot hold back all later input.
inline constexpr double kControlStringWaitSeconds = 1.0;
// Bounds the work of one decode call; the rest waits for the next drain.
inline constexpr std::size_t kMaxDecodeSteps = 65536;
// An unterminated CSI is given up once this many bytes wait behind it.
inline constexpr std::size_t kMaxPendingCsiBytes = 1024;
// Complete sequences this long or longer are ignored.
inline constexpr std::size_t kMaxSequenceBytes = 1100;
// Written to the terminal when it answers the keyboard query: report
// disambiguated keys and event types.
inline constexpr std::string_view kKeyboardEnhancementPush = "\x1b[>3u";

class InputDecoder {
 public:
  // `interactive`: the decoder serves a real terminal, which may be told to
  // enhance its keyboard reporting; headless decoders ignore the reply.
  explicit InputDecoder(bool interactive = false) : interactive_(interactive) {}
  // Set once an interactive terminal has been taken over.
  void set_interactive(bool interactive) { interactive_ = interactive; }

  // Appends bytes as read from the terminal; `now` is the clock in seconds.
  // Beyond kMaxInputBytes everything buffered and the new bytes are dropped
  // with a "resource_error". Once the event queue has overflowed, input is
  // no longer kept: it would never be decoded.
  void feed(std::string_view bytes, double now, input::EventQueue& events);

  // Decodes what is buffered, at most kMaxDecodeSteps steps. Without flush an
  // incomplete UTF-8 character waits for its remaining bytes and a lone
  // Escape waits kLoneEscapeSeconds after the last input; with flush both are
  // resolved at once. Stops for good once the event queue has overflowed.
  void decode(double now, bool flush, input::EventQueue& events);

  // The "feed_input" operation: the bytes go in exactly as if read from the
  // terminal, then decoding runs with the given flush flag.
  void feed_input(std::string_view bytes, bool flush, double now, input::EventQueue& events) {
    feed(bytes, now, events);
    decode(now, flush, events);
  }

  // True exactly once, after the terminal answered the keyboard query on an
  // interactive decoder: the caller then writes kKeyboardEnhancementPush.
  bool take_keyboard_enhancement_push() {
    const bool due = enhancement_push_due_;
    enhancement_push_due_ = false;
    return due;
  }
  // The enhancement was pushed (or is about to be); close must pop it.
  bool keyboard_enhanced() const { return keyboard_enhanced_; }
  // The terminal was given back (the enhancement popped) and is taken again:
  // its answer to the next query pushes the enhancement anew.
  void forget_keyboard_enhancement() {
    keyboard_enhanced_ = false;
    enhancement_push_due_ = false;
  }

  std::size_t buffered_bytes() const { return input_.size() - consumed_; }
  bool in_paste() const { return paste_mode_; }
  double pointer_x() const { return pointer_x_; }
  double pointer_y() const { return pointer_y_; }

 private:
  std::string_view pending() const { return std::string_view(input_).substr(consumed_); }
  void consume(std::size_t count);
  void discard_input();
  bool decode_paste_step(input::EventQueue& events);
  void append_paste(std::string_view bytes);
  void finish_paste(input::EventQueue& events);
  void emit_paste(input::EventQueue& events);
  void decode_character(char32_t code_point, input::EventQueue& events);
  void decode_sequence(std::string_view sequence, input::EventQueue& events);
  bool decode_sgr_mouse(std::string_view sequence, input::EventQueue& events);
  void decode_csi(std::string_view sequence, input::EventQueue& events);
  void decode_csi_u(std::string_view code_field, std::string_view modifier_field, std::string_view text_field,
                    bool has_text_field, input::EventQueue& events);

  bool interactive_;
  std::string input_;          // bytes fed, the first `consumed_` of them decoded
  std::size_t consumed_ = 0;
  double last_input_time_ = 0;
  double control_string_since_ = -1;  // when the unterminated control string at the head was first seen
  std::string paste_;          // text of the bracketed paste in progress
  bool paste_alloc_error_ = false;
  bool paste_mode_ = false;
  bool paste_too_large_ = false;
  bool keyboard_enhanced_ = false;
  bool enhancement_push_due_ = false;
  double pointer_x_ = 0;
  double pointer_y_ = 0;
};

}  // namespace lumora::terminal
