// The interactive terminal the host was started from: its controlling
// terminal opened for reading and writing, its modes saved, switched to raw
// input and put back, its visible size, and blocking reads and writes that
// another thread can always interrupt through a wake signal.
//
// Everything here is a thin seam over the operating system's terminal
// interface; the terminal backend's workers decide what to read and write.
#pragma once

#include <cstddef>
#include <memory>

namespace lumora::platform {

// A level-triggered signal a blocked console read or write also waits on.
// Raising it is async-signal-safe, never blocks and may be repeated; the
// signal stays raised until cleared, so a waiter that arrives late still
// returns at once.
class WakeSignal {
 public:
  // Null when the signal could not be created.
  static std::unique_ptr<WakeSignal> create();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void raise();
  void clear();
  int native_handle() const { return read_end_; }

 private:
  WakeSignal(int read_end, int write_end) : read_end_(read_end), write_end_(write_end) {}
  int read_end_;
  int write_end_;
};

enum class ConsoleOpenStatus {
  ok,
  unavailable,  // no controlling terminal, or its modes cannot be read
};

enum class ConsoleIoStatus {
  ok,     // at least one byte was transferred
  woken,  // the wake signal was raised before anything was transferred
  lost,   // the terminal hung up or failed
};

struct ConsoleIoResult {
  ConsoleIoStatus status = ConsoleIoStatus::lost;
  std::size_t bytes = 0;
};

struct ConsoleSize {
  int columns = 0;
  int rows = 0;
};

// The controlling terminal. Reads and writes may run on two other threads at
// the same time as the main thread reads the size or restores the modes.
class Console {
 public:
  // Opens the controlling terminal (close-on-exec) and saves its modes.
  // While it is open the process ignores the hang-up signal, so that a
  // terminal that goes away ends the session's input and output, not the
  // process: the host reports the loss and keeps serving its controller.
  static std::unique_ptr<Console> open(ConsoleOpenStatus* status);
  // The same for a named terminal device (a pseudo-terminal in tests).
  static std::unique_ptr<Console> open_device(const char* path, ConsoleOpenStatus* status);
  // Closes the terminal and puts back the hang-up signal's handling; does
  // not restore the modes (restore_modes does).
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Raw input: no line editing, echo, signal keys, extended input processing,
  // flow control or carriage-return translation; reads return each byte as it
  // arrives. Output processing is left as it was. False when refused.
  bool enter_raw_mode();
  // Puts back the modes saved at open; harmless when they were never changed.
  bool restore_modes();
  // The visible size in cells; false when the terminal does not report one.
  bool visible_size(ConsoleSize* size) const;

  // Blocks until some bytes arrive (returns at most `capacity`), `wake` is
  // raised, or the terminal is lost (hang-up or error).
  ConsoleIoResult read(void* buffer, std::size_t capacity, const WakeSignal& wake);
  // Blocks until all `length` bytes are written, `wake` is raised, or the
  // terminal is lost. `bytes` counts what was written in every case.
  ConsoleIoResult write_all(const void* data, std::size_t length, const WakeSignal& wake);

  int native_handle() const { return handle_; }

 private:
  struct SavedModes;
  Console(int handle, std::unique_ptr<SavedModes> saved);
  int handle_;
  std::unique_ptr<SavedModes> saved_;
};

}  // namespace lumora::platform
