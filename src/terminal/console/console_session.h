// An interactive terminal taken over by the terminal backend: raw input,
// alternate screen, mouse, focus and paste reporting, the two I/O workers,
// and on close the terminal put back exactly as it was found.
//
// The backend keeps its pending output (a ByteBuffer and a written offset);
// the session writes it out through the output worker and appends the enter
// and leave strings to it. Use from the backend (main thread only):
//
//   open:     session = ConsoleSession::open(output, title_bytes, error);
//             then poll the size once and empty the event queue.
//   drain:    session->drain(target, events);   // size, input, output, losses
//   present:  if (!session->pump(error)) fail;
//             if (session->output_pending()) succeed (deferred; the drain catches up);
//   close:    session->close(decoder.keyboard_enhanced());
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/console.h"
#include "scene/error_text.h"
#include "terminal/vt/byte_buffer.h"
#include "terminal/console/console_workers.h"
#include "input/event_queue.h"

namespace lumora::terminal {

// Queued once at open: save the title, alternate screen, hide the cursor, no
// auto-wrap, report all mouse motion in SGR form, report focus, bracket
// pastes, clear, home, ask for the text area size, ask for the keyboard
// enhancement flags.
inline constexpr std::string_view kEnterString =
    "\x1b[22;0t\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[?1003h\x1b[?1006h\x1b[?1004h\x1b[?2004h\x1b[2J\x1b[H\x1b[18t\x1b[?u";
static_assert(kEnterString.size() == 74);
// Queued once at close: undo every mode the enter string and the frames
// set, then restore the screen and the title.
inline constexpr std::string_view kLeaveString =
    "\x1b[?2026l\x1b[?1016l\x1b[?1003l\x1b[?1002l\x1b[?1000l\x1b[?1006l\x1b[?1004l\x1b[?2004l\x1b[0m\x1b[?7h\x1b[?25h"
    "\x1b[?1049l\x1b[23;0t";
static_assert(kLeaveString.size() == 94);
// Precedes the leave string when the keyboard enhancement was pushed.
inline constexpr std::string_view kKeyboardEnhancementPop = "\x1b[<u";
// Close waits at most this long for the terminal to take the leave string,
// so that a stalled terminal cannot hold up the host's exit.
inline constexpr double kLeaveSeconds = 0.25;

// The backend's pending output, borrowed for the session's lifetime.
struct ConsoleOutput {
  ByteBuffer* pending = nullptr;         // bytes queued for the terminal
  std::size_t* written = nullptr;        // how many of them were written
  std::uint64_t* bytes_written = nullptr;  // running total ("terminal_bytes_written")
};

// What a drain asks of the backend, called in this order.
class ConsoleDrainTarget {
 public:
  // The terminal's visible size: Set size, a refused size being ignored.
  virtual void apply_visible_size(std::int32_t columns, std::int32_t rows) = 0;
  // Bytes the terminal sent, for the input decoder.
  virtual void feed_console_input(std::string_view bytes) = 0;
  // Nothing is pending and the output is healthy: when the current frame is
  // reusable and not the frame written last, encode it with diff, commit it
  // and pump once more. An allocation failure is left to the next drain.
  virtual void catch_up_deferred_frame() = 0;
  // The keyboard enhancement was pushed: giving the terminal back pops it.
  virtual bool keyboard_enhanced() const = 0;
  // The terminal was taken again after a stop (the enter string is queued):
  // queue the title, forget the keyboard enhancement (the terminal is asked
  // again) and the frame written last, so that the next frame is written
  // whole.
  virtual void console_taken_again() = 0;

 protected:
  ~ConsoleDrainTarget() = default;
};

class ConsoleSession {
 public:
  // Takes over the controlling terminal: saves its modes, switches to raw
  // input, starts the workers, queues the enter string and `title_sequence`
  // (the bytes that set the title) and pumps once. Null with the message in
  // `error` on failure, the terminal then being left as it was found.
  static std::unique_ptr<ConsoleSession> open(ConsoleOutput output, std::string_view title_sequence,
                                              scene::ErrorText error);
  // The same on a named terminal device (tests use a pseudo-terminal).
  static std::unique_ptr<ConsoleSession> open_device(const char* path, ConsoleOutput output,
                                                     std::string_view title_sequence, scene::ErrorText error);
  // Closes (without the keyboard-enhancement pop) unless close() ran.
  ~ConsoleSession();
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  // The terminal's visible size in cells; false when it reports none.
  bool visible_size(std::int32_t* columns, std::int32_t* rows) const;

  // One output pump (see ConsoleWorkers::pump); false with "Terminal output
  // was disconnected".
  bool pump(scene::ErrorText error);
  // Bytes are queued or a chunk is still being written.
  bool output_pending() const;

  // The console half of a drain: a stop or continue request first (below),
  // then the size poll, the input-loss report, the
  // collected input, the output pump with its loss report, and the catch-up
  // of a deferred frame. Each loss is reported once as an "error" event;
  // from then on the drain leaves the terminal alone and the host keeps
  // serving.
  void drain(ConsoleDrainTarget& target, input::EventQueue& events);
  bool loss_reported() const { return loss_reported_; }

  // A stop request (a job-control stop): the terminal is given back as close
  // gives it back (keyboard-enhancement pop, leave string, saved modes), the
  // process stops, and once continued the terminal is taken again and the
  // next frame written whole. A continue without a stop of ours (someone
  // else stopped the process) takes the terminal again the same way. Both
  // run at the start of a drain.
  void suspend(ConsoleDrainTarget& target);
  void take_terminal_again(ConsoleDrainTarget& target);

  // Puts the terminal back: drops output not yet handed to the writer,
  // queues the keyboard-enhancement pop (when `keyboard_enhanced`) and the
  // leave string, writes them for at most kLeaveSeconds, stops the workers
  // and restores the saved modes. Returns whether both workers stopped (a
  // worker that did not keeps what it uses alive by itself). Runs once.
  bool close(bool keyboard_enhanced);

 private:
  ConsoleSession() = default;
  static std::unique_ptr<ConsoleSession> take_over(std::unique_ptr<platform::Console> console, ConsoleOutput output,
                                                   std::string_view title_sequence, scene::ErrorText error);
  // Drops output the writer has not seen, queues the keyboard-enhancement
  // pop (when `keyboard_enhanced`) and the leave string, and writes them for
  // at most kLeaveSeconds.
  void write_leave_string(bool keyboard_enhanced);

  std::shared_ptr<platform::Console> console_;
  std::unique_ptr<ConsoleWorkers> workers_;
  ConsoleOutput output_;
  bool loss_reported_ = false;
  bool closed_ = false;
  bool workers_stopped_ = true;
  // Termination and stop requests are recorded while the terminal is held.
  bool watching_requests_ = false;
};

}  // namespace lumora::terminal
