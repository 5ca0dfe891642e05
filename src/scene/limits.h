// Every limit of the protocol and of the scene language, named once: the
// host, the client and both backends read them from here. A limit that only
// one backend has (the terminal's 100000 points per polyline, for instance)
// stays next to the code of that backend.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora::scene {

// ---- Wire frames and their limits ---------------------------------------------------------------

// The one-time token of the hello frame: 64 hexadecimal digits.
inline constexpr std::size_t kTokenLength = 64;
// Frame types: the hello, a command, an event, the final notice, a reply.
inline constexpr std::uint32_t kFrameHello = 1;
inline constexpr std::uint32_t kFrameCommand = 9;
inline constexpr std::uint32_t kFrameEvent = 101;
inline constexpr std::uint32_t kFrameFinal = 102;
inline constexpr std::uint32_t kFrameReply = 200;
// A header: kFrameMagic, then type, id and body length, each 32 bits little-endian.
inline constexpr unsigned char kFrameMagic[4] = {'R', 'Z', 'V', '1'};
inline constexpr std::size_t kFrameHeaderSize = 16;
// Largest frame body in either direction.
inline constexpr std::size_t kMaxBody = 16777216;
// Arrays and objects may nest this deep in a command body.
inline constexpr std::size_t kMaxNesting = 64;
// The host's receive buffer holds exactly one maximal command frame.
inline constexpr std::size_t kRecvBufferSize = kMaxBody + kFrameHeaderSize;
// The host's send queue: 32 MiB + 64 KiB.
inline constexpr std::size_t kSendBufferSize = 33619968;
// Above this many unsent bytes the host neither reads nor parses, so that a
// command that is processed can always queue a reply of maximal size.
inline constexpr std::size_t kReadThreshold = kSendBufferSize - kRecvBufferSize - 4096;
static_assert(kReadThreshold == 16838640);
// Bytes read from the socket, and written per flush, in one loop turn; bounds
// one busy direction so it cannot starve the other or input and presents.
inline constexpr std::size_t kIoBudget = 262144;
// Commands dispatched per loop turn, for the same reason.
inline constexpr int kMaxFramesPerTurn = 32;

// ---- Events --------------------------------------------------------------------

// Ordinary events (every kind but "resource_error") are queued while fewer
// than this many events are queued; the next one overflows the queue.
inline constexpr std::size_t kMaxQueuedEvents = 4095;
// Resource errors are queued only while fewer than this many events are
// queued, so that a flood of them stays small; they ignore the overflow state.
inline constexpr std::size_t kMaxEventsForResourceErrors = 128;

// ---- Draw-command lists and patches ----------------------------------------

inline constexpr std::uint64_t kMaxSceneCommands = 200000;     // one committed list
inline constexpr std::uint64_t kMaxPatchEntries = 200000;      // "upsert", "remove", "order" each
inline constexpr std::uint64_t kMaxPatchCommands = 200000;     // across all upsert entries of one patch
inline constexpr std::uint64_t kMaxRetainedCommands = 200000;  // across all segments after a patch
inline constexpr std::uint64_t kMaxSegments = 200000;          // segments after a patch
inline constexpr std::uint64_t kMaxCommandPoints = 200000;     // one "lines" or "segments" command
inline constexpr std::size_t kMinSegmentIdBytes = 1;
inline constexpr std::size_t kMaxSegmentIdBytes = 256;

// The longest string a command item, a style colour, an "order" entry or a
// patch background may be.
inline constexpr std::size_t kMaxStringBytes = 16777216;

// The retained scene of either backend may hold at most this many bytes by
// its JSON footprint; equal is allowed.
inline constexpr std::uint64_t kRetainedSceneBudget = 67108864;

// Positions and sizes, in logical units.
inline constexpr double kMaxSceneCoordinate = 1000000;

// Value ranges of draw-command items.
inline constexpr double kMinTextSize = 0.01;
inline constexpr double kMaxTextSize = 2048;
inline constexpr double kMaxInset = 8192;
inline constexpr double kMaxFrameExtent = 8192;
inline constexpr double kMaxFrameCount = 4096;
inline constexpr double kMinFramesPerSecond = 0.01;
inline constexpr double kMaxFramesPerSecond = 1000;
inline constexpr double kMinAnimationSeconds = 0.001;
inline constexpr double kMaxAnimationSeconds = 86400;

// The cross-fade a commit may ask for.
inline constexpr double kMaxTransitionMs = 5000;

// ---- Operations ----------------------------------------------------------------

// The most strings one "measure_many" may hold.
inline constexpr std::size_t kMaxMeasureBatch = 4096;

// ---- Images ------------------------------------------------------------------

// A PNG stream may be at most this long, whether read from a file or decoded
// from a data URI.
inline constexpr std::size_t kMaxPngStreamBytes = 8388608;
// The longest "data:image/png;base64," URI whose payload can still decode to
// kMaxPngStreamBytes: the prefix (22) plus 4 × ceil(8388608 / 3) characters.
inline constexpr std::size_t kMaxPngDataUriBytes = 11184834;

// ---- Terminal cells ------------------------------------------------------------

// One terminal cell stands for 8 × 16 logical units; the terminal reports
// its viewport as columns × 8 by rows × 16 at scale 1.
inline constexpr int kCellWidthUnits = 8;
inline constexpr int kCellHeightUnits = 16;
// Exact reciprocals (powers of two), so that mapping a position to a cell is
// one multiplication.
inline constexpr double kColumnsPerUnit = 1.0 / kCellWidthUnits;
inline constexpr double kRowsPerUnit = 1.0 / kCellHeightUnits;

}  // namespace lumora::scene
