#include "terminal/vt/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::terminal {
namespace {

using namespace std::string_literals;

std::string printed(input::EventQueue& queue) {
  json::JsonPtr events = queue.take();
  json::JsonText text = json::print_json(events.get());
  return text ? std::string(text.get()) : std::string("<print failed>");
}

// Expected event texts, written the way cJSON prints them.
std::string flags(bool shift, bool ctrl) {
  return std::string(",\"shift\":") + (shift ? "true" : "false") + ",\"ctrl\":" + (ctrl ? "true" : "false") + "}";
}
std::string down(const std::string& name, bool shift = false, bool ctrl = false) {
  return "{\"kind\":\"key_down\",\"key\":\"" + name + "\"" + flags(shift, ctrl);
}
std::string up(const std::string& name, bool shift = false, bool ctrl = false) {
  return "{\"kind\":\"key_up\",\"key\":\"" + name + "\"" + flags(shift, ctrl);
}
std::string press(const std::string& name, bool shift = false, bool ctrl = false) {
  return down(name, shift, ctrl) + "," + up(name, shift, ctrl);
}
std::string text(const std::string& value) { return "{\"kind\":\"text\",\"text\":\"" + value + "\"}"; }
std::string paste(const std::string& literal) { return "{\"kind\":\"text\",\"text\":\"" + literal + "\",\"paste\":true}"; }
std::string pointer(const std::string& kind, int x, int y, int button, bool shift = false, bool ctrl = false) {
  return "{\"kind\":\"pointer_" + kind + "\",\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
         ",\"button\":" + std::to_string(button) + flags(shift, ctrl);
}
std::string wheel(int delta, bool shift = false, bool ctrl = false) {
  return "{\"kind\":\"wheel\",\"x\":76,\"y\":72,\"delta\":" + std::to_string(delta) + flags(shift, ctrl);
}
std::string resource_error(const std::string& message) {
  return "{\"kind\":\"resource_error\",\"text\":\"" + message + "\"}";
}
std::string list(const std::vector<std::string>& events) {
  std::string out = "[";
  for (const std::string& event : events) out += (out.size() > 1 ? "," : "") + event;
  return out + "]";
}

const std::string kOverflow = "[{\"kind\":\"error\",\"text\":\"Native terminal input queue exceeded 4096 events\"}]";

// Feeds everything at once and decodes with flush.
std::string decode_all(std::string_view bytes) {
  InputDecoder decoder;
  input::EventQueue events;
  decoder.feed_input(bytes, true, 0.0, events);
  return printed(events);
}

struct SequenceCase {
  const char* name;
  std::string bytes;
  std::string events;
};

class DecodeSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(DecodeSequence, DecodesToEvents) { EXPECT_EQ(decode_all(GetParam().bytes), GetParam().events); }

// A sequence cut at any byte, with decoding runs between the pieces well
// within the Escape delay, decodes the same once complete.
TEST_P(DecodeSequence, DecodesTheSameWhenCutAnywhere) {
  const std::string& bytes = GetParam().bytes;
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    InputDecoder decoder;
    input::EventQueue events;
    decoder.feed(std::string_view(bytes).substr(0, cut), 1.000, events);
    decoder.decode(1.001, false, events);
    decoder.feed(std::string_view(bytes).substr(cut), 1.002, events);
    decoder.decode(1.003, false, events);
    decoder.decode(2.0, true, events);
    EXPECT_EQ(printed(events), GetParam().events) << "cut at " << cut;
  }
}

const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(
    Characters, DecodeSequence,
    ::testing::Values(
        SequenceCase{"UpperCaseLetter", "A", list({press("a", true), text("A")})},
        SequenceCase{"SpaceAndQuote", " \"", list({press("Space"), text(" "), press("\\\""), text("\\\"")})},
        SequenceCase{"TwoByteUpper", "\xC3\x89", list({press("\xC3\xA9", true), text("\xC3\x89")})},
        SequenceCase{"FourByte", "\xF0\x9F\x98\x80", list({press("\xF0\x9F\x98\x80"), text("\xF0\x9F\x98\x80")})},
        SequenceCase{"TruncatedThenAscii", "\xE2\x82" "a",
                     list({press("\xEF\xBF\xBD"), text("\xEF\xBF\xBD"), press("a"), text("a")})},
        SequenceCase{"ControlKeys", "\x7f\x08\t\r\n\x01",
                     list({press("Backspace"), press("Backspace"), press("Tab"), press("Enter"), press("Enter"),
                           press("a", false, true)})},
        SequenceCase{"CtrlQCloses", "\x11", "[{\"kind\":\"close\"}]"},
        SequenceCase{"NulAndSeparatorsAreDropped", "\0\x1c\x1f"s, "[]"}),
    kCaseName);

INSTANTIATE_TEST_SUITE_P(
    Keys, DecodeSequence,
    ::testing::Values(
        SequenceCase{"ArrowUpAndSs3Home", "\x1b[A\x1bOH", list({press("ArrowUp"), press("Home")})},
        SequenceCase{"Ss3UnknownIsEscape", "\x1bOM", list({press("Escape")})},
        SequenceCase{"ModifiersCtrlAndAltNotReported", "\x1b[1;5A\x1b[1;3C",
                     list({press("ArrowUp", false, true), press("ArrowRight")})},
        SequenceCase{"ReleaseAndRepeat", "\x1b[1;5:3A\x1b[1;1:2B", list({up("ArrowUp", false, true), down("ArrowDown")})},
        SequenceCase{"TildeKeys", "\x1b[6;2~\x1b[15~", list({press("PageDown", true), press("F5")})},
        SequenceCase{"UnknownTildeAndFinalIgnored", "\x1b[16~\x1b[E", "[]"},
        SequenceCase{"BackTabAndModifyOtherKeys", "\x1b[Z\x1b[27;5;13~", list({press("Tab", true), press("Enter", false, true)})},
        SequenceCase{"FocusInAndOut", "\x1b[I\x1b[O", "[{\"kind\":\"repaint\"},{\"kind\":\"blur\"}]"},
        SequenceCase{"RepliesIgnored", "\x1b[8;24;80t\x1b[?62;22c\x1b[?2026;2$y\x1b[?1;2R\x1b[?1u", "[]"},
        SequenceCase{"AltLetterIsLetter", "\x1bx", list({press("x"), text("x")})},
        SequenceCase{"ControlStringsDropped", "\x1b]11;rgb:0000/0000/0000\x07\x1b]0;t\x1b\\\x1bP>|term\x07x\x1b\\\x1b_G;OK\x1b\\z",
                     list({press("z"), text("z")})}),
    kCaseName);

INSTANTIATE_TEST_SUITE_P(
    KeyboardProtocol, DecodeSequence,
    ::testing::Values(
        SequenceCase{"Letter", "\x1b[97u", list({press("a"), text("a")})},
        SequenceCase{"ShiftedLetterAndCodePoint", "\x1b[97;2u\x1b[49:33;2u",
                     list({press("a", true), text("A"), press("1", true), text("!")})},
        SequenceCase{"SharpSUpper", "\x1b[223;2u", list({press("\xC3\x9F", true), text("SS")})},
        SequenceCase{"AltAndCtrlHaveNoText", "\x1b[97;3u\x1b[97;5u", list({press("a"), press("a", false, true)})},
        SequenceCase{"PressRepeatAndRelease", "\x1b[97;1:1u\x1b[97;1:2u\x1b[97;1:3u",
                     list({down("a"), text("a"), down("a"), text("a"), up("a")})},
        SequenceCase{"CtrlQClosesOnPressOnly", "\x1b[113;5u\x1b[113;5:3u",
                     "[{\"kind\":\"close\"}," + up("q", false, true) + "]"},
        SequenceCase{"NamedAndC1Keys", "\x1b[27u\x1b[13u\x1b[127u\x1b[133u",
                     list({press("Escape"), press("Enter"), press("Backspace"), press("\xC2\x85")})},
        SequenceCase{"FunctionKeys", "\x1b[57348u\x1b[57364u\x1b[57398u", list({press("Insert"), press("F1"), press("F35")})},
        SequenceCase{"AssociatedTextStopsAtNonScalar", "\x1b[97;1;104:55296:105u", list({press("a"), text("h")})},
        SequenceCase{"InvalidCodesIgnored", "\x1b[55296u\x1b[1114112u\x1b[99999999999999999999u\x1b[;2u", "[]"}),
    kCaseName);

INSTANTIATE_TEST_SUITE_P(
    Mouse, DecodeSequence,
    ::testing::Values(
        SequenceCase{"DownAndUp", "\x1b[<0;1;1M\x1b[<2;3;2m", list({pointer("down", 4, 8, 1), pointer("up", 20, 24, 3)})},
        SequenceCase{"MiddleWithShiftCtrl", "\x1b[<21;1;1M", list({pointer("down", 4, 8, 2, true, true)})},
        SequenceCase{"MotionAndDrag", "\x1b[<35;10;2M\x1b[<34;10;2M", list({pointer("move", 76, 24, 1), pointer("move", 76, 24, 3)})},
        SequenceCase{"Wheels", "\x1b[<64;10;5M\x1b[<65;10;5M\x1b[<66;10;5M\x1b[<83;10;5M",
                     list({wheel(-1), wheel(1), wheel(-1, true), wheel(1, true, true)})},
        SequenceCase{"MalformedIgnored", "\x1b[<0;1M\x1b[<0;-1;1M\x1b[<0;1;1;1M", "[]"}),
    kCaseName);

INSTANTIATE_TEST_SUITE_P(
    Paste, DecodeSequence,
    ::testing::Values(
        SequenceCase{"EmptyAndCrLfIsOneNewline", "\x1b[200~\x1b[201~\x1b[200~a\r\nb\rc\nd\x1b[201~",
                     list({paste(""), paste("a\\nb\\nc\\nd")})},
        SequenceCase{"JsonEscapes", "\x1b[200~\"\\\b\t\f\x01\x1f\x7f\0\x1b[A\x1b[201~"s,
                     list({paste("\\\"\\\\\\b\\t\\f\\u0001\\u001f\x7f\\u0000\\u001b[A")})},
        SequenceCase{"IllFormedUtf8", "\x1b[200~\xC3(\xF0\x9F\x98\x80\xE2\x82\x1b[201~",
                     list({paste("\xEF\xBF\xBD(\xF0\x9F\x98\x80\xEF\xBF\xBD")})},
        SequenceCase{"KeysAround", "x\x1b[200~y\x1b[201~z", list({press("x"), text("x"), paste("y"), press("z"), text("z")})}),
    kCaseName);

class InputDecoderTest : public ::testing::Test {
 protected:
  InputDecoder decoder;
  input::EventQueue events;
};

TEST_F(InputDecoderTest, LoneEscapeWaitsForTheDelayFromTheLastDecodedCharacterUnlessFlushed) {
  decoder.feed("\x1b", 10.0, events);
  decoder.decode(10.034, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.decode(10.035, false, events);
  EXPECT_EQ(printed(events), list({press("Escape")}));
  // The delay runs from the last character decoded, not from when earlier bytes arrived.
  decoder.feed("\xC3", 11.0, events);
  decoder.decode(11.0, false, events);
  decoder.feed("\xA9\x1b", 11.5, events);
  decoder.decode(11.5, false, events);
  EXPECT_EQ(printed(events), list({press("\xC3\xA9"), text("\xC3\xA9")}));
  decoder.decode(11.54, false, events);
  EXPECT_EQ(printed(events), list({press("Escape")}));
  EXPECT_EQ(decode_all("a\x1b"), list({press("a"), text("a"), press("Escape")}));
}

TEST_F(InputDecoderTest, FlushResolvesCharactersButNotUnfinishedSequences) {
  decoder.feed("\xE2\x82", 0.0, events);
  decoder.decode(1.0, false, events);
  EXPECT_EQ(decoder.buffered_bytes(), 2u);
  decoder.decode(1.0, true, events);
  EXPECT_EQ(printed(events), list({press("\xEF\xBF\xBD"), text("\xEF\xBF\xBD")}));
  decoder.feed_input("\x1b[1;5", true, 2.0, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.feed_input("A\x1b]0;title\x1b", true, 2.0, events);
  EXPECT_EQ(printed(events), list({press("ArrowUp", false, true)}));
  decoder.feed_input("\\q", true, 2.0, events);  // the control string waited for its "\\"
  EXPECT_EQ(printed(events), list({press("q"), text("q")}));
}

TEST_F(InputDecoderTest, TypedAltBracketDoesNotHoldBackLaterInput) {
  // Escape and "]" from Alt+] look like the start of a control string; once
  // it has waited long enough without a terminator it is a typed key.
  decoder.feed("\x1b]ab", 10.0, events);
  decoder.decode(10.0, false, events);
  decoder.decode(10.0 + kControlStringWaitSeconds / 2, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.decode(10.0 + kControlStringWaitSeconds, false, events);
  EXPECT_EQ(printed(events), list({press("]"), text("]"), press("a"), text("a"), press("b"), text("b")}));
}

TEST_F(InputDecoderTest, OverlongSequencesAreDroppedAtTheirBounds) {
  decoder.feed_input("\x1b[" + std::string(kMaxPendingCsiBytes - 2, '1'), true, 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), kMaxPendingCsiBytes);
  decoder.feed_input(";", true, 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  const std::string complete = "\x1b[" + std::string(kMaxSequenceBytes - 3, '1') + "~";
  decoder.feed_input(complete + "A", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("a", true), text("A")}));
}

TEST(InputDecoderReplyTest, KeyboardReplyAsksForEnhancementOnceAndOnlyWhenInteractive) {
  input::EventQueue events;
  InputDecoder decoder(false);
  decoder.feed_input("\x1b[?1u", false, 0.0, events);
  EXPECT_FALSE(decoder.keyboard_enhanced() || decoder.take_keyboard_enhancement_push());
  decoder.set_interactive(true);  // the terminal was taken over later
  decoder.feed_input("\x1b[?1u", false, 0.0, events);
  EXPECT_TRUE(decoder.keyboard_enhanced());
  EXPECT_TRUE(decoder.take_keyboard_enhancement_push());
  decoder.feed_input("\x1b[?3u", false, 0.0, events);
  EXPECT_FALSE(decoder.take_keyboard_enhancement_push());
  EXPECT_EQ(printed(events), "[]");
}

TEST_F(InputDecoderTest, DecodingStopsAfterTheStepBudget) {
  decoder.feed(std::string(kMaxDecodeSteps + 10, '\0'), 0.0, events);
  decoder.decode(0.0, false, events);
  EXPECT_EQ(decoder.buffered_bytes(), 10u);
  decoder.decode(0.0, false, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
}

TEST_F(InputDecoderTest, QueueOverflowEndsAPasteAndDropsWhatFollows) {
  decoder.feed_input("\x1b[200~" + std::string(1000, 'p'), false, 0.0, events);
  EXPECT_TRUE(decoder.in_paste());
  for (std::size_t index = 0; index <= input::kMaxQueuedEvents; ++index) events.push_repaint();
  decoder.feed_input("more\x1b[201~abc", true, 0.0, events);
  EXPECT_FALSE(decoder.in_paste());
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  EXPECT_EQ(printed(events), kOverflow);
}

TEST_F(InputDecoderTest, InputBeyondItsBoundIsDroppedWithOneResourceError) {
  decoder.feed(std::string(kMaxInputBytes - 1, 'x'), 0.0, events);
  decoder.feed("y", 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), kMaxInputBytes);
  decoder.feed("z", 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  EXPECT_EQ(printed(events), list({resource_error("Terminal input exceeded its bounded buffer")}));
  decoder.feed_input("q", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("q"), text("q")}));
}

TEST_F(InputDecoderTest, EscapeInsideAPasteIsPasteTextAndNeverTheKey) {
  decoder.feed_input("\x1b[200~" + std::string(100, 'p') + "\x1b[20", false, 0.0, events);
  decoder.feed_input("1", true, 1.0, events);
  decoder.decode(5.0, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.feed_input("~\x1b[200~ab\x1b", true, 5.0, events);
  decoder.decode(7.0, true, events);
  EXPECT_TRUE(decoder.in_paste());
  decoder.feed_input("\x1b[201~", true, 7.0, events);
  EXPECT_EQ(printed(events), list({paste(std::string(100, 'p')), paste("ab\\u001b")}));
}

// The one event a paste gives, printed; a literal of the expected size is shown by its size alone.
std::string paste_outcome(const std::string& pasted, std::size_t literal_size) {
  InputDecoder decoder;
  input::EventQueue events;
  decoder.feed_input("\x1b[200~" + pasted + "\x1b[201~", false, 0.0, events);
  json::JsonPtr taken = events.take();
  const cJSON* literal = cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(taken.get(), 0), "text");
  if (cJSON_IsRaw(literal) && std::string_view(literal->valuestring).size() == literal_size) return "literal";
  return json::print_json(taken.get()).get();
}

TEST_F(InputDecoderTest, PasteIsBoundedByItsBytesAndItsEscapedSize) {
  // Each 0x01 byte becomes a six-byte escape.
  const std::size_t fits = kMaxEscapedPasteBytes / 6;
  EXPECT_EQ(paste_outcome(std::string(kMaxPasteBytes, 'w'), kMaxPasteBytes + 2), "literal");
  EXPECT_EQ(paste_outcome(std::string(fits, '\x01'), fits * 6 + 2), "literal");
  EXPECT_EQ(paste_outcome(std::string(fits + 1, '\x01'), 0),
            list({resource_error("Terminal paste exceeds the 16 MiB event budget after JSON escaping")}));
  // One byte over 8 MiB, fed in two parts: reported and dropped, and the next paste is whole.
  decoder.feed_input("\x1b[200~" + std::string(kMaxPasteBytes / 2, 'w'), false, 0.0, events);
  decoder.feed_input(std::string(kMaxPasteBytes / 2 + 1, 'w') + "\x1b[201~k\x1b[200~ok\x1b[201~", false, 0.0, events);
  EXPECT_EQ(printed(events), list({resource_error("Terminal paste exceeds 8 MiB"), press("k"), text("k"), paste("ok")}));
}

}  // namespace
}  // namespace lumora::terminal
