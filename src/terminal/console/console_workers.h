// The two threads that talk to an interactive terminal, so that the host's
// main loop never waits for it: an input worker blocked reading, collecting
// bytes for the main thread, and an output worker blocked writing one chunk
// at a time. The main thread only ever polls them.
//
// Ownership: the workers share their state (the console, the staging chunk,
// the collected input) with this object. When a worker cannot be stopped it
// keeps that state alive on its own, so freeing the backend can never leave
// it writing into freed memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/console.h"
#include "scene/error_text.h"
#include "terminal/vt/byte_buffer.h"

namespace lumora::terminal {

// Input read but not yet taken by the main thread; the input worker waits
// while the main thread is this far behind.
inline constexpr std::size_t kMaxSharedInput = 1024 * 1024;
// One read of the terminal.
inline constexpr std::size_t kInputReadSize = 16 * 1024;
// One chunk handed to the output worker, and the most one pump call moves.
inline constexpr std::size_t kOutputChunkSize = 64 * 1024;
// Stopping a worker: this many wake-ups, each followed by a wait of
// kStopAttemptSeconds for it to end.
inline constexpr int kStopAttempts = 100;
inline constexpr double kStopAttemptSeconds = 0.010;

class ConsoleWorkers {
 public:
  // Starts the input worker and then the output worker on `console`. Null
  // when either could not be started (a started one is stopped again).
  static std::unique_ptr<ConsoleWorkers> start(std::shared_ptr<platform::Console> console);
  // Stops whatever still runs.
  ~ConsoleWorkers();
  ConsoleWorkers(const ConsoleWorkers&) = delete;
  ConsoleWorkers& operator=(const ConsoleWorkers&) = delete;

  // ---- Output (main thread) ----

  // Moves the caller's pending output (`pending`, of which the first
  // `written` bytes are written) to the terminal: collects the chunk in
  // flight when it is done, adding it to `written` and `bytes_written`, and
  // hands over the next; at most kOutputChunkSize bytes per call, never
  // waiting. Once everything is written `pending` is cleared (its storage
  // kept) and `written` reset. False with "Terminal output was disconnected"
  // once a write failed, or when bytes are pending and the output worker is
  // gone.
  bool pump(ByteBuffer& pending, std::size_t& written, std::uint64_t& bytes_written, scene::ErrorText error);
  // Empties `pending` of every byte not yet handed to the output worker. A
  // chunk in flight still completes; the next pump collects it without
  // touching the new pending output.
  void drop_unsent_output(ByteBuffer& pending, std::size_t& written);
  bool write_in_flight() const { return write_in_flight_; }
  bool output_lost() const { return output_lost_; }

  // ---- Input (main thread) ----

  // The input worker's read failed (the terminal went away).
  bool input_lost() const;
  // Takes every byte collected so far. The view stays valid until the next
  // call; the collected buffer and this one swap storage, so the lock is
  // held only for the swap.
  std::string_view take_input();

  // ---- Shutdown ----

  // Stops the input worker, then the output worker. True when both ended;
  // afterwards nothing touches the console any more.
  bool stop();
  bool stopped() const { return stopped_; }

 private:
  struct Shared;
  class Worker;
  ConsoleWorkers();
  static void run_input_worker(const std::shared_ptr<Shared>& shared);
  static void run_output_worker(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Worker> input_worker_;
  std::unique_ptr<Worker> output_worker_;

  // Main-thread state of the output handshake.
  bool write_in_flight_ = false;
  // The chunk in flight no longer belongs to the pending output (dropped).
  bool in_flight_detached_ = false;
  bool output_lost_ = false;

  std::string taken_input_;
  bool stopped_ = false;
};

}  // namespace lumora::terminal
