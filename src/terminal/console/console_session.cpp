#include "terminal/console/console_session.h"

#include <new>
#include <utility>

#include "platform/clock.h"
#include "platform/signals.h"

namespace lumora::terminal {

namespace {

// Close pumps the leave string in steps this long.
constexpr double kLeavePumpSleepSeconds = 0.001;

}  // namespace

std::unique_ptr<ConsoleSession> ConsoleSession::open(ConsoleOutput output, std::string_view title_sequence,
                                                     scene::ErrorText error) {
  platform::ConsoleOpenStatus status;
  std::unique_ptr<platform::Console> console = platform::Console::open(&status);
  if (!console) {
    error.set("The terminal backend requires an attached interactive Windows console; use headless for snapshots");
    return nullptr;
  }
  return take_over(std::move(console), output, title_sequence, error);
}

std::unique_ptr<ConsoleSession> ConsoleSession::open_device(const char* path, ConsoleOutput output,
                                                            std::string_view title_sequence,
                                                            scene::ErrorText error) {
  platform::ConsoleOpenStatus status;
  std::unique_ptr<platform::Console> console = platform::Console::open_device(path, &status);
  if (!console) {
    error.set("The terminal backend requires an attached interactive Windows console; use headless for snapshots");
    return nullptr;
  }
  return take_over(std::move(console), output, title_sequence, error);
}

std::unique_ptr<ConsoleSession> ConsoleSession::take_over(std::unique_ptr<platform::Console> console,
                                                          ConsoleOutput output, std::string_view title_sequence,
                                                          scene::ErrorText error) {
  auto session = std::unique_ptr<ConsoleSession>(new (std::nothrow) ConsoleSession);
  if (!session) {
    error.set("Cannot allocate terminal backend");
    return nullptr;
  }
  try {
    session->console_ = std::shared_ptr<platform::Console>(std::move(console));
  } catch (const std::bad_alloc&) {
    error.set("Cannot allocate terminal backend");
    return nullptr;
  }
  session->output_ = output;

  // From here on the modes are saved, and every failure puts them back
  // (close, run by the destructor when not before).
  if (!session->console_->enter_raw_mode()) {
    session->close(false);
    error.set("Could not enable Windows VT terminal modes");
    return nullptr;
  }
  session->workers_ = ConsoleWorkers::start(session->console_);
  if (!session->workers_) {
    session->close(false);
    error.set("Could not start the cancellable console I/O workers");
    return nullptr;
  }
  session->workers_stopped_ = false;
  // A host that cannot watch for signals still works; a signal then ends it
  // without giving the terminal back, as before.
  session->watching_requests_ = platform::watch_requests();

  output.pending->append(kEnterString);
  output.pending->append(title_sequence);
  if (!session->pump(error)) {
    // The message is already in `error`.
    session->close(false);
    return nullptr;
  }
  return session;
}

ConsoleSession::~ConsoleSession() {
  if (!closed_) close(false);
}

bool ConsoleSession::visible_size(std::int32_t* columns, std::int32_t* rows) const {
  platform::ConsoleSize size;
  if (!console_ || !console_->visible_size(&size)) return false;
  *columns = size.columns;
  *rows = size.rows;
  return true;
}

bool ConsoleSession::pump(scene::ErrorText error) {
  if (!workers_) {
    if (*output_.written >= output_.pending->size()) return true;
    error.set("Terminal output was disconnected");
    return false;
  }
  return workers_->pump(*output_.pending, *output_.written, *output_.bytes_written, error);
}

bool ConsoleSession::output_pending() const {
  return *output_.written < output_.pending->size() || (workers_ && workers_->write_in_flight());
}

void ConsoleSession::drain(ConsoleDrainTarget& target, input::EventQueue& events) {
  if (loss_reported_ || closed_ || !workers_) return;
  if (platform::take_suspend_request()) suspend(target);
  if (platform::take_continue_request()) take_terminal_again(target);
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  if (visible_size(&columns, &rows)) target.apply_visible_size(columns, rows);
  if (workers_->input_lost()) {
    events.push_error("Native terminal input was disconnected");
    loss_reported_ = true;
  }
  std::string_view input = workers_->take_input();
  if (!input.empty()) target.feed_console_input(input);
  scene::ErrorBuffer<64> ignored;
  if (!pump(ignored.text())) {
    events.push_error("Terminal output was disconnected");
    loss_reported_ = true;
    return;
  }
  if (!output_pending()) target.catch_up_deferred_frame();
}

void ConsoleSession::write_leave_string(bool keyboard_enhanced) {
  if (!workers_ || workers_->output_lost()) return;
  const double start = platform::now_seconds();
  // Bytes of a frame the writer has not seen yet would only delay the
  // terminal getting its modes back; a frame cut short is harmless because
  // the leave string starts with ESC, which aborts any sequence.
  workers_->drop_unsent_output(*output_.pending, *output_.written);
  if (keyboard_enhanced) output_.pending->append(kKeyboardEnhancementPop);
  output_.pending->append(kLeaveString);
  scene::ErrorBuffer<64> ignored;
  while (pump(ignored.text()) && output_pending() && platform::now_seconds() - start < kLeaveSeconds) {
    platform::sleep_seconds(kLeavePumpSleepSeconds);
  }
}

void ConsoleSession::suspend(ConsoleDrainTarget& target) {
  write_leave_string(target.keyboard_enhanced());
  console_->restore_modes();
  platform::suspend_until_continued();
  // Continued (or never stopped, when nobody could have continued us).
  platform::take_continue_request();
  take_terminal_again(target);
}

void ConsoleSession::take_terminal_again(ConsoleDrainTarget& target) {
  // A terminal that refuses its modes is gone (a hang-up also continues the
  // process): its loss is reported by the drain, nothing is written to it.
  if (!console_->enter_raw_mode()) return;
  output_.pending->append(kEnterString);
  target.console_taken_again();
  scene::ErrorBuffer<64> ignored;
  pump(ignored.text());
}

bool ConsoleSession::close(bool keyboard_enhanced) {
  if (closed_) return workers_stopped_;
  closed_ = true;
  write_leave_string(keyboard_enhanced);
  workers_stopped_ = workers_ ? workers_->stop() : true;
  if (console_) console_->restore_modes();
  if (watching_requests_) platform::stop_watching_requests();
  watching_requests_ = false;
  return workers_stopped_;
}

}  // namespace lumora::terminal
