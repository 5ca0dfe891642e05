// The interactive console on Windows is not taken over yet: opening it
// reports it unavailable, so "open" of an interactive terminal fails with
// the usual message and the headless terminal is the one offered.
#include "platform/console.h"

namespace lumora::platform {

std::unique_ptr<WakeSignal> WakeSignal::create() { return nullptr; }
WakeSignal::~WakeSignal() = default;
void WakeSignal::raise() {}
void WakeSignal::clear() {}

struct Console::SavedModes {};

Console::Console(int handle, std::unique_ptr<SavedModes> saved) : handle_(handle), saved_(std::move(saved)) {}
Console::~Console() = default;

std::unique_ptr<Console> Console::open(ConsoleOpenStatus* status) {
  if (status != nullptr) *status = ConsoleOpenStatus::unavailable;
  return nullptr;
}

std::unique_ptr<Console> Console::open_device(const char*, ConsoleOpenStatus* status) { return open(status); }

bool Console::enter_raw_mode() { return false; }
bool Console::restore_modes() { return true; }
bool Console::visible_size(ConsoleSize*) const { return false; }

ConsoleIoResult Console::read(void*, std::size_t, const WakeSignal&) { return {ConsoleIoStatus::lost, 0}; }
ConsoleIoResult Console::write_all(const void*, std::size_t, const WakeSignal&) { return {ConsoleIoStatus::lost, 0}; }

}  // namespace lumora::platform
