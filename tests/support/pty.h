// A pseudo-terminal for tests of the console layer: the test holds the
// terminal's side (what a terminal emulator would see: the bytes the host
// writes, the keys it sends, the window size), and the code under test opens
// the device by its path as if it were the controlling terminal.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace lumora::test {

class Pty {
 public:
  // Opens a pair; valid() is false on failure. The device side stays open in
  // the test too, so that the terminal does not hang up while the code under
  // test reopens it.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool valid() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& device_path() const { return device_path_; }

  // Bytes the code under test wrote, waiting up to `timeout` for at least one.
  std::string read_some(std::chrono::milliseconds timeout);
  // Reads until `expected` has appeared in what was read (returned whole) or
  // `timeout` passed.
  std::string read_until(std::string_view expected, std::chrono::milliseconds timeout);
  // Reads everything that arrives until nothing more came for `quiet`.
  std::string read_until_quiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);
  // Types bytes into the terminal (they arrive as the device's input).
  bool type(std::string_view bytes);
  // Sets the window size the device reports.
  bool set_size(int columns, int rows);

  // The device's termios modes as raw bytes, for byte-for-byte comparisons.
  std::string modes() const;
  // Sets the device's modes from what modes() returned.
  bool set_modes(const std::string& modes);
  // Turns echo off and raw output on for the device, as a full-screen
  // program's terminal would be, so that writes arrive unchanged.
  bool make_output_transparent();

  // The terminal side goes away: the device hangs up.
  void close_terminal_side();
  // Closes the test's own handle on the device side.
  void close_device_side();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string device_path_;
};

}  // namespace lumora::test
