#include "terminal/console/console_workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace lumora::terminal {

namespace {

// The input worker retries this often while the main thread is behind.
constexpr double kInputBackoffSeconds = 0.001;

}  // namespace

// Everything both sides of a worker touch. Lives as long as the longest of
// the owner and the worker threads.
struct ConsoleWorkers::Shared {
  std::shared_ptr<platform::Console> console;
  std::unique_ptr<platform::WakeSignal> input_wake;
  std::unique_ptr<platform::WakeSignal> output_wake;

  std::atomic<bool> input_stop{false};
  std::atomic<bool> input_lost{false};
  std::mutex input_lock;
  std::string input;  // guarded by input_lock

  std::atomic<bool> output_stop{false};
  // Work handshake: the main thread sets work_ready (under work_lock) once a
  // chunk is staged; the worker sets done when it has written it. Only one
  // chunk is ever in flight, so these order every access to the chunk.
  std::mutex work_lock;
  std::condition_variable work_signal;
  bool work_ready = false;  // guarded by work_lock
  std::atomic<bool> done{false};
  bool write_ok = false;
  std::size_t chunk_size = 0;
  std::size_t chunk_written = 0;
  unsigned char staging[kOutputChunkSize];
};

// One thread and the signal that it ended, so that stopping can wait for it
// with a time-out.
class ConsoleWorkers::Worker {
 public:
  template <class Body>
  static std::unique_ptr<Worker> start(Body body) {
    auto worker = std::unique_ptr<Worker>(new (std::nothrow) Worker);
    if (!worker) return nullptr;
    try {
      std::promise<void> ended;
      worker->ended_ = ended.get_future();
      worker->thread_ = std::thread([body = std::move(body), ended = std::move(ended)]() mutable {
        body();
        ended.set_value();
      });
    } catch (...) {  // std::system_error or std::bad_alloc: no thread
      return nullptr;
    }
    return worker;
  }

  ~Worker() {
    if (!thread_.joinable()) return;
    if (ended_.valid() && ended_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      thread_.join();
    } else {
      // It would not stop: it keeps its shared state alive by itself.
      thread_.detach();
    }
  }

  // `wake` is called before each wait: the worker may have been between its
  // stop check and its blocking call when the first wake-up came.
  template <class Wake>
  bool stop(Wake wake) {
    if (!thread_.joinable()) return true;
    const auto attempt = std::chrono::duration<double>(kStopAttemptSeconds);
    for (int i = 0; i < kStopAttempts; ++i) {
      wake();
      if (ended_.wait_for(attempt) == std::future_status::ready) {
        thread_.join();
        return true;
      }
    }
    return false;
  }

 private:
  Worker() = default;
  std::thread thread_;
  std::future<void> ended_;
};

ConsoleWorkers::ConsoleWorkers() = default;

std::unique_ptr<ConsoleWorkers> ConsoleWorkers::start(std::shared_ptr<platform::Console> console) {
  if (!console) return nullptr;
  auto workers = std::unique_ptr<ConsoleWorkers>(new (std::nothrow) ConsoleWorkers);
  if (!workers) return nullptr;
  try {
    workers->shared_ = std::make_shared<Shared>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  Shared& shared = *workers->shared_;
  shared.console = std::move(console);
  shared.input_wake = platform::WakeSignal::create();
  shared.output_wake = platform::WakeSignal::create();
  if (!shared.input_wake || !shared.output_wake) return nullptr;

  auto shared_ref = workers->shared_;
  workers->input_worker_ = Worker::start([shared_ref] { run_input_worker(shared_ref); });
  if (workers->input_worker_) {
    workers->output_worker_ = Worker::start([shared_ref] { run_output_worker(shared_ref); });
  }
  if (!workers->input_worker_ || !workers->output_worker_) {
    workers->stop();
    return nullptr;
  }
  return workers;
}

ConsoleWorkers::~ConsoleWorkers() {
  if (!stopped_) stop();
  // A worker that did not stop is detached by its destructor.
}

void ConsoleWorkers::run_input_worker(const std::shared_ptr<Shared>& shared_ref) {
  Shared& shared = *shared_ref;
  // On the heap: a thread's stack is no place for 16 KiB it can do without.
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kInputReadSize]);
  if (!buffer) {
    shared.input_lost.exchange(true);
    return;
  }
  while (!shared.input_stop.load()) {
    platform::ConsoleIoResult result = shared.console->read(buffer.get(), kInputReadSize, *shared.input_wake);
    if (result.status != platform::ConsoleIoStatus::ok) {
      if (!shared.input_stop.load()) shared.input_lost.exchange(true);
      return;
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(shared.input_lock);
        if (shared.input.size() + result.bytes <= kMaxSharedInput) {
          try {
            shared.input.append(reinterpret_cast<const char*>(buffer.get()), result.bytes);
          } catch (const std::bad_alloc&) {
            // Dropping keystrokes on an exhausted machine beats ending the
            // process from a worker thread.
          }
          break;
        }
      }
      if (shared.input_stop.load()) return;
      platform::sleep_seconds(kInputBackoffSeconds);
    }
  }
}

void ConsoleWorkers::run_output_worker(const std::shared_ptr<Shared>& shared_ref) {
  Shared& shared = *shared_ref;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(shared.work_lock);
      shared.work_signal.wait(lock, [&] { return shared.work_ready || shared.output_stop.load(); });
      if (shared.output_stop.load()) return;
      shared.work_ready = false;
    }
    platform::ConsoleIoResult result = shared.console->write_all(shared.staging, shared.chunk_size, *shared.output_wake);
    shared.write_ok = result.status == platform::ConsoleIoStatus::ok;
    shared.chunk_written = result.bytes;
    shared.done.store(true, std::memory_order_release);
  }
}

void ConsoleWorkers::drop_unsent_output(ByteBuffer& pending, std::size_t& written) {
  if (write_in_flight_) in_flight_detached_ = true;
  pending.clear();
  written = 0;
}

bool ConsoleWorkers::pump(ByteBuffer& pending, std::size_t& written, std::uint64_t& bytes_written,
                          scene::ErrorText error) {
  std::size_t moved = 0;
  while ((written < pending.size() || write_in_flight_) && moved < kOutputChunkSize) {
    if (output_lost_ || !output_worker_ || stopped_) {
      error.set("Terminal output was disconnected");
      return false;
    }
    Shared& shared = *shared_;
    if (!write_in_flight_) {
      std::size_t chunk = std::min(kOutputChunkSize - moved, pending.size() - written);
      std::memcpy(shared.staging, pending.c_str() + written, chunk);
      shared.chunk_size = chunk;
      in_flight_detached_ = false;
      write_in_flight_ = true;
      {
        std::lock_guard<std::mutex> lock(shared.work_lock);
        shared.work_ready = true;
      }
      shared.work_signal.notify_one();
      return true;
    }
    if (!shared.done.exchange(false, std::memory_order_acq_rel)) return true;
    write_in_flight_ = false;
    if (!shared.write_ok || shared.chunk_written == 0) {
      output_lost_ = true;
      error.set("Terminal output was disconnected");
      return false;
    }
    bytes_written += shared.chunk_written;
    moved += shared.chunk_written;
    if (!in_flight_detached_) written += shared.chunk_written;
    in_flight_detached_ = false;
  }
  if (written >= pending.size() && !write_in_flight_ && (!pending.empty() || pending.failed())) {
    pending.clear();
    written = 0;
  }
  return true;
}

bool ConsoleWorkers::input_lost() const { return shared_ && shared_->input_lost.load(); }

std::string_view ConsoleWorkers::take_input() {
  taken_input_.clear();
  if (!shared_) return {};
  std::lock_guard<std::mutex> lock(shared_->input_lock);
  taken_input_.swap(shared_->input);
  return taken_input_;
}

bool ConsoleWorkers::stop() {
  if (stopped_) return true;
  bool ended = true;
  if (shared_) {
    Shared& shared = *shared_;
    if (input_worker_) {
      shared.input_stop.exchange(true);
      ended = input_worker_->stop([&] { shared.input_wake->raise(); }) && ended;
    }
    if (output_worker_) {
      shared.output_stop.exchange(true);
      ended = output_worker_->stop([&] {
        {
          std::lock_guard<std::mutex> lock(shared.work_lock);
        }
        shared.work_signal.notify_one();
        shared.output_wake->raise();
      }) && ended;
    }
  }
  stopped_ = true;
  return ended;
}

}  // namespace lumora::terminal
