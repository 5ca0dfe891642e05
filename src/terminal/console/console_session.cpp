#include "terminal/console/console_session.h"

#include <new>
#include <utility>

#include "platform/clock.h"

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

bool ConsoleSession::close(bool keyboard_enhanced) {
  if (closed_) return workers_stopped_;
  closed_ = true;
  if (workers_ && !workers_->output_lost()) {
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
  workers_stopped_ = workers_ ? workers_->stop() : true;
  if (console_) console_->restore_modes();
  return workers_stopped_;
}

}  // namespace lumora::terminal
