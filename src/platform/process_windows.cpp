// Child processes on Windows: CreateProcessW with standard input on NUL and
// both output streams captured through pipes, each drained by a thread of
// its own so that a chatty child never blocks on a full pipe.
#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <string>

#include "platform/utf16_windows.h"

namespace lumora::platform {
namespace {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset() {
    if (valid()) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// One argument quoted so that the child's C runtime splits it back exactly:
// backslashes double only before a quote or the closing quote.
void append_quoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t character : argument) {
    if (character == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += character;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The inherited environment with `extra` added or replacing entries of the
// same name (compared without case, as Windows does), as one block.
std::optional<std::wstring> environment_block(const std::vector<std::string>& extra) {
  std::vector<std::wstring> added;
  for (const std::string& entry : extra) {
    std::optional<std::wstring> wide = utf8_to_utf16(entry);
    if (!wide) return std::nullopt;
    added.push_back(std::move(*wide));
  }
  auto name_of = [](std::wstring_view entry) {
    // A leading '=' belongs to the name (the per-drive current directories).
    std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
  };
  auto same_name = [&](std::wstring_view left, std::wstring_view right) {
    std::wstring_view a = name_of(left), b = name_of(right);
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
  };
  std::wstring block;
  if (wchar_t* inherited = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      std::wstring_view text(entry);
      bool replaced = std::any_of(added.begin(), added.end(), [&](const std::wstring& a) { return same_name(a, text); });
      if (!replaced) block.append(text).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(inherited);
  }
  for (const std::wstring& entry : added) block.append(entry).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

}  // namespace

struct ChildProcess::State {
  OwnedHandle process;
  DWORD process_id = 0;
  std::optional<int> exit_code;

  struct Stream {
    OwnedHandle read_end;
    OwnedHandle thread;
    std::string text;
    bool closed = false;
  };
  Stream streams[2];  // standard output, standard error
  mutable std::mutex mutex;
  std::condition_variable outputs_closed;

  static DWORD WINAPI drain(void* argument) {
    auto* pair = static_cast<std::pair<State*, int>*>(argument);
    State* state = pair->first;
    Stream& stream = state->streams[pair->second];
    delete pair;
    char chunk[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(stream.read_end.get(), chunk, sizeof chunk, &got, nullptr) || got == 0) break;
      std::lock_guard<std::mutex> lock(state->mutex);
      std::size_t room = kMaxCapturedOutput - std::min(kMaxCapturedOutput, stream.text.size());
      stream.text.append(chunk, std::min<std::size_t>(room, got));
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    stream.closed = true;
    state->outputs_closed.notify_all();
    return 0;
  }

  bool start_drain(int index) {
    auto* argument = new std::pair<State*, int>(this, index);
    HANDLE thread = ::CreateThread(nullptr, 0, &State::drain, argument, 0, nullptr);
    if (thread == nullptr) {
      delete argument;
      std::lock_guard<std::mutex> lock(mutex);
      streams[index].closed = true;
      return false;
    }
    streams[index].thread = OwnedHandle(thread);
    return true;
  }

  ~State() {
    if (process.valid() && !exit_code) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), INFINITE);
    }
    // A grandchild may still hold a pipe open: stop the readers' blocked
    // reads rather than wait for it.
    for (Stream& stream : streams) {
      if (!stream.thread.valid()) continue;
      while (::WaitForSingleObject(stream.thread.get(), 10) == WAIT_TIMEOUT) ::CancelSynchronousIo(stream.thread.get());
    }
  }
};

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::~ChildProcess() = default;

std::unique_ptr<ChildProcess> ChildProcess::spawn(const SpawnOptions& options, std::string* error) {
  auto fail = [&](std::string message) -> std::unique_ptr<ChildProcess> {
    if (error != nullptr) *error = std::move(message);
    return nullptr;
  };
  if (!options.controlling_tty.empty()) return fail("controlling terminals are not available on Windows");
  std::optional<std::wstring> program = utf8_to_utf16(options.path);
  if (!program || program->empty()) return fail("invalid program path");
  std::wstring command_line;
  append_quoted(command_line, *program);
  for (const std::string& argument : options.args) {
    std::optional<std::wstring> wide = utf8_to_utf16(argument);
    if (!wide) return fail("invalid argument text");
    command_line += L' ';
    append_quoted(command_line, *wide);
  }
  std::optional<std::wstring> environment = environment_block(options.environment);
  if (!environment) return fail("invalid environment text");

  auto state = std::make_unique<State>();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle write_ends[2];
  for (int index = 0; index < 2; ++index) {
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) return fail("CreatePipe failed");
    state->streams[index].read_end = OwnedHandle(read_end);
    write_ends[index] = OwnedHandle(write_end);
    // Only the child's ends are inherited.
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  }
  OwnedHandle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr));
  if (!null_input.valid()) return fail("cannot open NUL");

  // Exactly these three handles are inherited, not whatever else is open.
  HANDLE inherited[3] = {null_input.get(), write_ends[0].get(), write_ends[1].get()};
  SIZE_T attribute_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_size);
  std::vector<unsigned char> attribute_storage(attribute_size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &attribute_size)) return fail("cannot list handles");
  bool listed = ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                            sizeof inherited, nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_input.get();
  startup.StartupInfo.hStdOutput = write_ends[0].get();
  startup.StartupInfo.hStdError = write_ends[1].get();
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION created{};
  DWORD flags = CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
  if (options.new_session) flags |= CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW;
  // A bare name is searched for the way the system searches, PATH included.
  const bool bare_name = program->find_first_of(L"\\/") == std::wstring::npos;
  BOOL started = listed && ::CreateProcessW(bare_name ? nullptr : program->c_str(), command_line.data(), nullptr,
                                            nullptr, TRUE, flags, environment->data(), nullptr,
                                            &startup.StartupInfo, &created);
  ::DeleteProcThreadAttributeList(attributes);
  if (!started) return fail("CreateProcessW failed with error " + std::to_string(::GetLastError()));
  ::CloseHandle(created.hThread);
  state->process = OwnedHandle(created.hProcess);
  state->process_id = created.dwProcessId;
  // Our copies of the child's ends go, so that the pipes end with the child.
  write_ends[0].reset();
  write_ends[1].reset();
  state->start_drain(0);
  state->start_drain(1);
  return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(state)));
}

int ChildProcess::id() const { return static_cast<int>(state_->process_id); }

std::optional<int> ChildProcess::wait_exit(double timeout_seconds) {
  if (state_->exit_code) return state_->exit_code;
  double milliseconds = timeout_seconds > 0 ? timeout_seconds * 1000.0 : 0;
  DWORD wait = milliseconds >= 4e9 ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
  if (::WaitForSingleObject(state_->process.get(), wait) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!::GetExitCodeProcess(state_->process.get(), &code)) return std::nullopt;
  state_->exit_code = static_cast<int>(code);
  return state_->exit_code;
}

std::optional<int> ChildProcess::exit_code() const { return state_->exit_code; }

// Windows has no signals: every one ends the child at once, with the exit
// code a POSIX shell would report for it.
bool ChildProcess::send_signal(int signal_number) {
  if (state_->exit_code) return false;
  return ::TerminateProcess(state_->process.get(), static_cast<UINT>(128 + signal_number)) != 0;
}

bool ChildProcess::kill() { return send_signal(9); }

bool ChildProcess::wait_output_closed(double timeout_seconds) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto closed = [&] { return state_->streams[0].closed && state_->streams[1].closed; };
  return state_->outputs_closed.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeout_seconds)), closed);
}

std::string ChildProcess::standard_output() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->streams[0].text;
}

std::string ChildProcess::standard_error() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->streams[1].text;
}

}  // namespace lumora::platform
