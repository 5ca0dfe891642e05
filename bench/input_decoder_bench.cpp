// Throughput of the terminal input decoder on recorded input: pasted text,
// mouse motion and typing. Events are drained as the host would, so that the
// queue's bound never stops the decoder.
#include <benchmark/benchmark.h>

#include <string>

#include "input/event_queue.h"
#include "terminal/vt/input_decoder.h"

namespace {

using lumora::input::EventQueue;
using lumora::terminal::InputDecoder;

// Text as it arrives from a pasted source file: mostly ASCII, some accents,
// CR LF line ends, quotes and tabs that need escaping.
std::string sample_text(std::size_t bytes) {
  static const std::string line =
      "\tconst auto caf\xC3\xA9 = std::string(\"na\xC3\xAFve \xE2\x80\x94 r\xC3\xA9sum\xC3\xA9\"); // plain text\r\n";
  std::string text;
  text.reserve(bytes + line.size());
  while (text.size() < bytes) text += line;
  return text;
}

// Mouse motion across an 80 x 24 grid, as reported with SGR encoding.
std::string mouse_motion(std::size_t reports) {
  std::string stream;
  for (std::size_t index = 0; index < reports; ++index) {
    stream += "\x1b[<35;" + std::to_string(1 + index % 80) + ";" + std::to_string(1 + (index / 80) % 24) + "M";
  }
  return stream;
}

void BM_DecodePastedText(benchmark::State& state) {
  const std::string paste = "\x1b[200~" + sample_text(static_cast<std::size_t>(state.range(0))) + "\x1b[201~";
  InputDecoder decoder;
  EventQueue events;
  for (auto _ : state) {
    decoder.feed_input(paste, false, 0.0, events);
    benchmark::DoNotOptimize(events.take());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * paste.size()));
}
BENCHMARK(BM_DecodePastedText)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// Pasted text arriving in the terminal's 16 KiB reads, one drain each.
void BM_DecodePastedTextInReads(benchmark::State& state) {
  const std::string text = sample_text(4 << 20);
  constexpr std::size_t kRead = 16 * 1024;
  InputDecoder decoder;
  EventQueue events;
  for (auto _ : state) {
    decoder.feed_input("\x1b[200~", false, 0.0, events);
    for (std::size_t offset = 0; offset < text.size(); offset += kRead)
      decoder.feed_input(std::string_view(text).substr(offset, kRead), false, 0.0, events);
    decoder.feed_input("\x1b[201~", false, 0.0, events);
    benchmark::DoNotOptimize(events.take());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodePastedTextInReads)->Unit(benchmark::kMillisecond);

void BM_DecodeMouseMotion(benchmark::State& state) {
  // One drain's worth: below the queue bound.
  constexpr std::size_t kReports = 4000;
  const std::string stream = mouse_motion(kReports);
  InputDecoder decoder;
  EventQueue events;
  for (auto _ : state) {
    decoder.feed_input(stream, false, 0.0, events);
    benchmark::DoNotOptimize(events.take());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kReports));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_DecodeMouseMotion)->Unit(benchmark::kMicrosecond);

// Typing: each character yields a key press and a text event.
void BM_DecodeTypedKeys(benchmark::State& state) {
  std::string stream;
  while (stream.size() < 1000) stream += "Hello, world\r\x1b[A\x1b[1;5C\x1b[97;2u\x7f";
  InputDecoder decoder;
  EventQueue events;
  for (auto _ : state) {
    decoder.feed_input(stream, false, 0.0, events);
    benchmark::DoNotOptimize(events.take());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_DecodeTypedKeys)->Unit(benchmark::kMicrosecond);

// A recorded session: typing, a burst of mouse motion, a 1 MiB paste.
void BM_DecodeRecordedSession(benchmark::State& state) {
  std::string stream = "vim main.cpp\r\x1b[A\x1b[B\x1b[1;5D";
  stream += mouse_motion(2000);
  stream += "\x1b[200~" + sample_text(1 << 20) + "\x1b[201~";
  stream += "\x1b[<0;10;5M\x1b[<0;10;5m\x1b[<65;10;5M:wq\r";
  InputDecoder decoder;
  EventQueue events;
  for (auto _ : state) {
    decoder.feed_input(stream, false, 0.0, events);
    benchmark::DoNotOptimize(events.take());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_DecodeRecordedSession)->Unit(benchmark::kMillisecond);

}  // namespace
