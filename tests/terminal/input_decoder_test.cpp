#include "terminal/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::terminal {
namespace {

using namespace std::string_literals;

std::string printed(EventQueue& queue) {
  scene::JsonPtr events = queue.take();
  scene::JsonText text = scene::print_json(events.get());
  return text ? std::string(text.get()) : std::string("<print failed>");
}

// Expected event texts, written the way cJSON prints them.
std::string key(const char* kind, const std::string& name, bool shift, bool ctrl) {
  return "{\"kind\":\""s + kind + "\",\"key\":\"" + name + "\",\"shift\":" + (shift ? "true" : "false") +
         ",\"ctrl\":" + (ctrl ? "true" : "false") + "}";
}
std::string down(const std::string& name, bool shift = false, bool ctrl = false) {
  return key("key_down", name, shift, ctrl);
}
std::string up(const std::string& name, bool shift = false, bool ctrl = false) {
  return key("key_up", name, shift, ctrl);
}
std::string press(const std::string& name, bool shift = false, bool ctrl = false) {
  return down(name, shift, ctrl) + "," + up(name, shift, ctrl);
}
std::string text(const std::string& value) { return "{\"kind\":\"text\",\"text\":\"" + value + "\"}"; }
std::string paste(const std::string& literal) { return "{\"kind\":\"text\",\"text\":\"" + literal + "\",\"paste\":true}"; }
std::string resource_error(const std::string& message) {
  return "{\"kind\":\"resource_error\",\"text\":\"" + message + "\"}";
}
std::string list(const std::vector<std::string>& events) {
  std::string out = "[";
  for (const std::string& event : events) out += (out.size() > 1 ? "," : "") + event;
  return out + "]";
}

// Feeds everything at once and decodes with flush.
std::string decode_all(std::string_view bytes, bool interactive = false) {
  InputDecoder decoder(interactive);
  EventQueue events;
  decoder.feed_input(bytes, true, 0.0, events);
  return printed(events);
}

struct SequenceCase {
  const char* name;
  std::string bytes;
  std::string events;
};

class DecodeSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(DecodeSequence, DecodesToEvents) {
  EXPECT_EQ(decode_all(GetParam().bytes), GetParam().events);
}

// A sequence cut at any byte, with decoding runs between the pieces well
// within the Escape delay, decodes the same once complete.
TEST_P(DecodeSequence, DecodesTheSameWhenCutAnywhere) {
  const std::string& bytes = GetParam().bytes;
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    InputDecoder decoder;
    EventQueue events;
    decoder.feed(std::string_view(bytes).substr(0, cut), 1.000, events);
    decoder.decode(1.001, false, events);
    decoder.feed(std::string_view(bytes).substr(cut), 1.002, events);
    decoder.decode(1.003, false, events);
    decoder.decode(2.0, true, events);
    EXPECT_EQ(printed(events), GetParam().events) << "cut at " << cut;
  }
}

TEST_P(DecodeSequence, DecodesTheSameFedByteByByte) {
  InputDecoder decoder;
  EventQueue events;
  double now = 1.0;
  for (char byte : GetParam().bytes) {
    decoder.feed(std::string_view(&byte, 1), now, events);
    decoder.decode(now + 0.001, false, events);
    now += 0.002;
  }
  decoder.decode(now + 1.0, false, events);
  EXPECT_EQ(printed(events), GetParam().events);
}

const std::string kMove = "{\"kind\":\"pointer_move\",\"x\":76,\"y\":24,\"button\":1,\"shift\":false,\"ctrl\":false}";

INSTANTIATE_TEST_SUITE_P(
    Characters, DecodeSequence,
    ::testing::Values(
        SequenceCase{"UpperCaseLetter", "A", list({press("a", true), text("A")})},
        SequenceCase{"LowerCaseLetter", "z", list({press("z"), text("z")})},
        SequenceCase{"Space", " ", list({press("Space"), text(" ")})},
        SequenceCase{"Digit", "7", list({press("7"), text("7")})},
        SequenceCase{"Quote", "\"", list({press("\\\""), text("\\\"")})},
        SequenceCase{"TwoByteUpper", "\xC3\x89", list({press("\xC3\xA9", true), text("\xC3\x89")})},
        SequenceCase{"FourByte", "\xF0\x9F\x98\x80", list({press("\xF0\x9F\x98\x80"), text("\xF0\x9F\x98\x80")})},
        SequenceCase{"IllFormedByte", "\xFF", list({press("\xEF\xBF\xBD"), text("\xEF\xBF\xBD")})},
        SequenceCase{"TruncatedThenAscii", "\xE2\x82" "a",
                     list({press("\xEF\xBF\xBD"), text("\xEF\xBF\xBD"), press("a"), text("a")})},
        SequenceCase{"Backspace", "\x7f", list({press("Backspace")})},
        SequenceCase{"CtrlH", "\x08", list({press("Backspace")})},
        SequenceCase{"Tab", "\t", list({press("Tab")})},
        SequenceCase{"Return", "\r", list({press("Enter")})},
        SequenceCase{"LineFeed", "\n", list({press("Enter")})},
        SequenceCase{"CtrlA", "\x01", list({press("a", false, true)})},
        SequenceCase{"CtrlZ", "\x1a", list({press("z", false, true)})},
        SequenceCase{"CtrlQCloses", "\x11", "[{\"kind\":\"close\"}]"},
        SequenceCase{"NulIsDropped", "\0"s, "[]"},
        SequenceCase{"FileSeparatorIsDropped", "\x1c\x1f", "[]"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Keys, DecodeSequence,
    ::testing::Values(
        SequenceCase{"ArrowUp", "\x1b[A", list({press("ArrowUp")})},
        SequenceCase{"Ss3Home", "\x1bOH", list({press("Home")})},
        SequenceCase{"Ss3F4", "\x1bOS", list({press("F4")})},
        SequenceCase{"Ss3UnknownIsEscape", "\x1bOM", list({press("Escape")})},
        SequenceCase{"Ss3QuestionIgnored", "\x1bO?", "[]"},
        SequenceCase{"CtrlArrowUp", "\x1b[1;5A", list({press("ArrowUp", false, true)})},
        SequenceCase{"SuperIsCtrl", "\x1b[1;9D", list({press("ArrowLeft", false, true)})},
        SequenceCase{"AltIsNotReported", "\x1b[1;3C", list({press("ArrowRight")})},
        SequenceCase{"ShiftEnd", "\x1b[1;2F", list({press("End", true)})},
        SequenceCase{"ReleaseOnly", "\x1b[1;5:3A", list({up("ArrowUp", false, true)})},
        SequenceCase{"PressOnly", "\x1b[1;1:1B", list({down("ArrowDown")})},
        SequenceCase{"RepeatIsDown", "\x1b[1;1:2B", list({down("ArrowDown")})},
        SequenceCase{"Delete", "\x1b[3~", list({press("Delete")})},
        SequenceCase{"HomeSeven", "\x1b[7~", list({press("Home")})},
        SequenceCase{"PageDownShift", "\x1b[6;2~", list({press("PageDown", true)})},
        SequenceCase{"F5", "\x1b[15~", list({press("F5")})},
        SequenceCase{"F12", "\x1b[24~", list({press("F12")})},
        SequenceCase{"UnknownTildeIgnored", "\x1b[16~", "[]"},
        SequenceCase{"UnknownFinalIgnored", "\x1b[E", "[]"},
        SequenceCase{"BackTab", "\x1b[Z", list({press("Tab", true)})},
        SequenceCase{"ModifyOtherKeys", "\x1b[27;5;13~", list({press("Enter", false, true)})},
        SequenceCase{"ModifyOtherKeysShifted", "\x1b[27;2;97~", list({press("a", true), text("A")})},
        SequenceCase{"FocusIn", "\x1b[I", "[{\"kind\":\"repaint\"}]"},
        SequenceCase{"FocusOut", "\x1b[O", "[{\"kind\":\"blur\"}]"},
        SequenceCase{"WindowReportIgnored", "\x1b[8;24;80t", "[]"},
        SequenceCase{"DeviceAttributesIgnored", "\x1b[?62;22c", "[]"},
        SequenceCase{"ModeReportIgnored", "\x1b[?2026;2$y", "[]"},
        SequenceCase{"PrivateIgnored", "\x1b[?1;2R", "[]"},
        SequenceCase{"AltLetterIsLetter", "\x1bx", list({press("x"), text("x")})},
        SequenceCase{"OscBelDropped", "\x1b]11;rgb:0000/0000/0000\x07z", list({press("z"), text("z")})},
        SequenceCase{"OscStDropped", "\x1b]0;t\x1b\\z", list({press("z"), text("z")})},
        SequenceCase{"DcsDropped", "\x1bP>|term\x07x\x1b\\z", list({press("z"), text("z")})},
        SequenceCase{"ApcDropped", "\x1b_G;OK\x1b\\", "[]"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    KeyboardProtocol, DecodeSequence,
    ::testing::Values(
        SequenceCase{"Letter", "\x1b[97u", list({press("a"), text("a")})},
        SequenceCase{"ShiftedLetter", "\x1b[97;2u", list({press("a", true), text("A")})},
        SequenceCase{"ShiftedCodePoint", "\x1b[97:65;2u", list({press("a", true), text("A")})},
        SequenceCase{"ShiftedDigit", "\x1b[49:33;2u", list({press("1", true), text("!")})},
        SequenceCase{"ShiftedCodeWithoutShift", "\x1b[49:33u", list({press("1"), text("1")})},
        SequenceCase{"SharpSUpper", "\x1b[223;2u", list({press("\xC3\x9F", true), text("SS")})},
        SequenceCase{"AltHasNoText", "\x1b[97;3u", list({press("a")})},
        SequenceCase{"CtrlHasNoText", "\x1b[97;5u", list({press("a", false, true)})},
        SequenceCase{"ReleaseHasNoText", "\x1b[97;1:3u", list({up("a")})},
        SequenceCase{"PressThenRepeat", "\x1b[97;1:1u\x1b[97;1:2u", list({down("a"), text("a"), down("a"), text("a")})},
        SequenceCase{"CtrlQCloses", "\x1b[113;5u", "[{\"kind\":\"close\"}]"},
        SequenceCase{"CtrlQReleaseIsKey", "\x1b[113;5:3u", list({up("q", false, true)})},
        SequenceCase{"EscapeKey", "\x1b[27u", list({press("Escape")})},
        SequenceCase{"EnterHasNoText", "\x1b[13u", list({press("Enter")})},
        SequenceCase{"BackspaceIsNotDel", "\x1b[127u", list({press("Backspace")})},
        SequenceCase{"C1ControlHasNoText", "\x1b[133u", list({press("\xC2\x85")})},
        SequenceCase{"Space", "\x1b[32u", list({press("Space"), text(" ")})},
        SequenceCase{"InsertKey", "\x1b[57348u", list({press("Insert")})},
        SequenceCase{"EndKey", "\x1b[57357u", list({press("End")})},
        SequenceCase{"F1", "\x1b[57364u", list({press("F1")})},
        SequenceCase{"F35", "\x1b[57398u", list({press("F35")})},
        SequenceCase{"OtherPrivateUseHasNoText", "\x1b[57441u", list({press("\xEE\x81\xA1")})},
        SequenceCase{"AssociatedText", "\x1b[97;2;65u", list({press("a", true), text("A")})},
        SequenceCase{"AssociatedTextSeveral", "\x1b[97;;104:105u", list({press("a"), text("hi")})},
        SequenceCase{"AssociatedTextStopsAtNonScalar", "\x1b[97;1;104:55296:105u", list({press("a"), text("h")})},
        SequenceCase{"SurrogateIgnored", "\x1b[55296u", "[]"},
        SequenceCase{"AboveMaxIgnored", "\x1b[1114112u", "[]"},
        SequenceCase{"HugeNumberIgnored", "\x1b[99999999999999999999u", "[]"},
        SequenceCase{"NoCodeIgnored", "\x1b[;2u", "[]"},
        SequenceCase{"KeyboardReplyHeadlessIgnored", "\x1b[?1u", "[]"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Mouse, DecodeSequence,
    ::testing::Values(
        SequenceCase{"PrimaryDown", "\x1b[<0;1;1M",
                     "[{\"kind\":\"pointer_down\",\"x\":4,\"y\":8,\"button\":1,\"shift\":false,\"ctrl\":false}]"},
        SequenceCase{"SecondaryUp", "\x1b[<2;3;2m",
                     "[{\"kind\":\"pointer_up\",\"x\":20,\"y\":24,\"button\":3,\"shift\":false,\"ctrl\":false}]"},
        SequenceCase{"MiddleWithShiftCtrl", "\x1b[<21;1;1M",
                     "[{\"kind\":\"pointer_down\",\"x\":4,\"y\":8,\"button\":2,\"shift\":true,\"ctrl\":true}]"},
        SequenceCase{"MotionNoButton", "\x1b[<35;10;2M", "[" + kMove + "]"},
        SequenceCase{"DragSecondary", "\x1b[<34;10;2M",
                     "[{\"kind\":\"pointer_move\",\"x\":76,\"y\":24,\"button\":3,\"shift\":false,\"ctrl\":false}]"},
        SequenceCase{"WheelDown", "\x1b[<65;10;5M",
                     "[{\"kind\":\"wheel\",\"x\":76,\"y\":72,\"delta\":1,\"shift\":false,\"ctrl\":false}]"},
        SequenceCase{"WheelUp", "\x1b[<64;10;5M",
                     "[{\"kind\":\"wheel\",\"x\":76,\"y\":72,\"delta\":-1,\"shift\":false,\"ctrl\":false}]"},
        SequenceCase{"WheelLeftIsShifted", "\x1b[<66;10;5M",
                     "[{\"kind\":\"wheel\",\"x\":76,\"y\":72,\"delta\":-1,\"shift\":true,\"ctrl\":false}]"},
        SequenceCase{"WheelRightCtrl", "\x1b[<83;10;5M",
                     "[{\"kind\":\"wheel\",\"x\":76,\"y\":72,\"delta\":1,\"shift\":true,\"ctrl\":true}]"},
        SequenceCase{"MissingNumberIgnored", "\x1b[<0;1M", "[]"},
        SequenceCase{"SignIgnored", "\x1b[<0;-1;1M", "[]"},
        SequenceCase{"ExtraNumberIgnored", "\x1b[<0;1;1;1M", "[]"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Paste, DecodeSequence,
    ::testing::Values(
        SequenceCase{"Plain", "\x1b[200~hello\x1b[201~", list({paste("hello")})},
        SequenceCase{"Empty", "\x1b[200~\x1b[201~", list({paste("")})},
        SequenceCase{"CrLfIsOneNewline", "\x1b[200~a\r\nb\rc\nd\x1b[201~", list({paste("a\\nb\\nc\\nd")})},
        SequenceCase{"JsonEscapes", "\x1b[200~\"\\\b\t\f\x01\x1f\x7f\x1b[201~",
                     list({paste("\\\"\\\\\\b\\t\\f\\u0001\\u001f\x7f")})},
        SequenceCase{"NulIsEscaped", "\x1b[200~a\0b\x1b[201~"s, list({paste("a\\u0000b")})},
        SequenceCase{"EscapeInside", "\x1b[200~\x1b[A\x1b[201~", list({paste("\\u001b[A")})},
        SequenceCase{"IllFormedUtf8", "\x1b[200~\xC3(\xF0\x9F\x98\x80\xE2\x82\x1b[201~",
                     list({paste("\xEF\xBF\xBD(\xF0\x9F\x98\x80\xEF\xBF\xBD")})},
        SequenceCase{"KeysAround", "x\x1b[200~y\x1b[201~z",
                     list({press("x"), text("x"), paste("y"), press("z"), text("z")})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InputDecoderTest, LoneEscapeWaitsForTheDelay) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed("\x1b", 10.0, events);
  decoder.decode(10.0, false, events);
  decoder.decode(10.034, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.decode(10.035, false, events);
  EXPECT_EQ(printed(events), list({press("Escape")}));
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
}

TEST(InputDecoderTest, LoneEscapeResolvesAtOnceWithFlush) {
  EXPECT_EQ(decode_all("\x1b"), list({press("Escape")}));
  EXPECT_EQ(decode_all("a\x1b"), list({press("a"), text("a"), press("Escape")}));
}

TEST(InputDecoderTest, EscapeFollowedSoonBySequenceIsOneKey) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed("\x1b", 5.0, events);
  decoder.decode(5.0, false, events);
  decoder.feed("[A", 5.010, events);
  decoder.decode(5.010, false, events);
  EXPECT_EQ(printed(events), list({press("ArrowUp")}));
}

// The delay runs from the last character decoded before the Escape, not from
// when earlier bytes arrived.
TEST(InputDecoderTest, EscapeDelayCountsFromLastDecodedCharacter) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed("\xC3", 1.0, events);
  decoder.decode(1.0, false, events);
  decoder.feed("\xA9\x1b", 1.5, events);
  decoder.decode(1.5, false, events);
  EXPECT_EQ(printed(events), list({press("\xC3\xA9"), text("\xC3\xA9")}));
  decoder.decode(1.52, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.decode(1.54, false, events);
  EXPECT_EQ(printed(events), list({press("Escape")}));
}

TEST(InputDecoderTest, IncompleteCharacterWaitsUnlessFlushed) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed("\xE2\x82", 0.0, events);
  decoder.decode(1.0, false, events);
  EXPECT_EQ(printed(events), "[]");
  EXPECT_EQ(decoder.buffered_bytes(), 2u);
  decoder.decode(1.0, true, events);
  EXPECT_EQ(printed(events), list({press("\xEF\xBF\xBD"), text("\xEF\xBF\xBD")}));
}

TEST(InputDecoderTest, FlushDoesNotCompleteAnUnfinishedSequence) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[1;5", true, 0.0, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.feed_input("A", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("ArrowUp", false, true)}));
}

TEST(InputDecoderTest, UnterminatedCsiIsDiscardedPastItsBound) {
  InputDecoder decoder;
  EventQueue events;
  const std::string start = "\x1b[" + std::string(kMaxPendingCsiBytes - 2, '1');
  decoder.feed_input(start, true, 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), kMaxPendingCsiBytes);
  decoder.feed_input(";", true, 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  decoder.feed_input("A", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("a", true), text("A")}));
}

TEST(InputDecoderTest, OverlongCompleteSequenceIsIgnored) {
  const std::string sequence = "\x1b[" + std::string(kMaxSequenceBytes - 3, '1') + "~";
  EXPECT_EQ(decode_all(sequence + "b"), list({press("b"), text("b")}));
}

TEST(InputDecoderTest, UnterminatedControlStringWaits) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b]0;title", true, 0.0, events);
  decoder.feed_input("\x1b", true, 0.0, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.feed_input("\\q", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("q"), text("q")}));
}

TEST(InputDecoderTest, KeyboardReplyAsksForEnhancementOnce) {
  InputDecoder decoder(true);
  EventQueue events;
  EXPECT_FALSE(decoder.keyboard_enhanced());
  decoder.feed_input("\x1b[?1u", false, 0.0, events);
  EXPECT_TRUE(decoder.keyboard_enhanced());
  EXPECT_TRUE(decoder.take_keyboard_enhancement_push());
  EXPECT_FALSE(decoder.take_keyboard_enhancement_push());
  decoder.feed_input("\x1b[?3u", false, 0.0, events);
  EXPECT_FALSE(decoder.take_keyboard_enhancement_push());
  EXPECT_EQ(printed(events), "[]");
}

TEST(InputDecoderTest, KeyboardReplyCountsOnceTheTerminalIsTakenOver) {
  InputDecoder decoder;
  EventQueue events;
  decoder.set_interactive(true);
  decoder.feed_input("\x1b[?0u", false, 0.0, events);
  EXPECT_TRUE(decoder.take_keyboard_enhancement_push());
}

TEST(InputDecoderTest, OverflowEndsAPasteInProgress) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~" + std::string(1000, 'p'), false, 0.0, events);
  EXPECT_TRUE(decoder.in_paste());
  for (std::size_t index = 0; index <= kMaxQueuedEvents; ++index) events.push_repaint();
  decoder.feed_input("more\x1b[201~", true, 0.0, events);
  EXPECT_FALSE(decoder.in_paste());
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  EXPECT_EQ(printed(events), "[{\"kind\":\"error\",\"text\":\"Native terminal input queue exceeded 4096 events\"}]");
}

TEST(InputDecoderTest, HeadlessIgnoresKeyboardReply) {
  InputDecoder decoder(false);
  EventQueue events;
  decoder.feed_input("\x1b[?1u", false, 0.0, events);
  EXPECT_FALSE(decoder.keyboard_enhanced());
  EXPECT_FALSE(decoder.take_keyboard_enhancement_push());
}

TEST(InputDecoderTest, PointerPositionFollowsReports) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[<35;3;4M", false, 0.0, events);
  EXPECT_EQ(decoder.pointer_x(), 20.0);
  EXPECT_EQ(decoder.pointer_y(), 56.0);
}

TEST(InputDecoderTest, DecodingStopsAfterTheStepBudget) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed(std::string(kMaxDecodeSteps + 10, '\0'), 0.0, events);
  decoder.decode(0.0, false, events);
  EXPECT_EQ(decoder.buffered_bytes(), 10u);
  decoder.decode(0.0, false, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
}

TEST(InputDecoderTest, ManyEventsBeforeOneDrainYieldOneErrorAndSilence) {
  InputDecoder decoder;
  EventQueue events;
  // 5,000 key events (2,500 presses), more than the queue holds.
  decoder.feed_input(std::string(2500, '\t'), false, 0.0, events);
  EXPECT_EQ(printed(events), "[{\"kind\":\"error\",\"text\":\"Native terminal input queue exceeded 4096 events\"}]");
  decoder.feed_input("abc\x1b[A", true, 1.0, events);
  decoder.decode(2.0, true, events);
  EXPECT_EQ(printed(events), "[]");
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
}

TEST(InputDecoderTest, InputBeyondItsBoundIsDroppedWithOneResourceError) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed(std::string(kMaxInputBytes - 1, 'x'), 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), kMaxInputBytes - 1);
  decoder.feed("y", 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), kMaxInputBytes);
  decoder.feed("z", 0.0, events);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
  EXPECT_EQ(printed(events), list({resource_error("Terminal input exceeded its bounded buffer")}));
  decoder.feed_input("q", true, 0.0, events);
  EXPECT_EQ(printed(events), list({press("q"), text("q")}));
}

TEST(InputDecoderTest, ResourceErrorsAreDroppedWhenManyEventsWait) {
  InputDecoder decoder;
  EventQueue events;
  for (std::size_t index = 0; index < kMaxEventsForResourceErrors; ++index) events.push_repaint();
  decoder.feed(std::string(kMaxInputBytes, 'x'), 0.0, events);
  decoder.feed("x", 0.0, events);
  EXPECT_EQ(events.size(), kMaxEventsForResourceErrors);
  EXPECT_EQ(decoder.buffered_bytes(), 0u);
}

TEST(InputDecoderTest, PasteEndMarkerSplitAcrossFeeds) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~" + std::string(100, 'p') + "\x1b[20", false, 0.0, events);
  EXPECT_TRUE(decoder.in_paste());
  // A lone Escape inside a paste is paste text in waiting, never the key.
  decoder.feed_input("1", true, 1.0, events);
  decoder.decode(5.0, false, events);
  EXPECT_EQ(printed(events), "[]");
  decoder.feed_input("~", false, 5.0, events);
  EXPECT_FALSE(decoder.in_paste());
  EXPECT_EQ(printed(events), list({paste(std::string(100, 'p'))}));
}

TEST(InputDecoderTest, PasteEndingInEscapeKeepsIt) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~ab\x1b", true, 0.0, events);
  decoder.decode(1.0, true, events);
  decoder.feed_input("\x1b[201~", true, 1.0, events);
  EXPECT_EQ(printed(events), list({paste("ab\\u001b")}));
}

TEST(InputDecoderTest, PasteOfExactly8MiBIsKept) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~" + std::string(kMaxPasteBytes, 'w') + "\x1b[201~", false, 0.0, events);
  scene::JsonPtr taken = events.take();
  ASSERT_EQ(cJSON_GetArraySize(taken.get()), 1);
  const cJSON* literal = cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(taken.get(), 0), "text");
  ASSERT_TRUE(cJSON_IsRaw(literal));
  EXPECT_EQ(std::string_view(literal->valuestring).size(), kMaxPasteBytes + 2);
}

TEST(InputDecoderTest, PasteOver8MiBIsReportedAndDropped) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~" + std::string(kMaxPasteBytes / 2, 'w'), false, 0.0, events);
  decoder.feed_input(std::string(kMaxPasteBytes / 2 + 1, 'w') + "\x1b[201~k", false, 0.0, events);
  EXPECT_EQ(printed(events), list({resource_error("Terminal paste exceeds 8 MiB"), press("k"), text("k")}));
  decoder.feed_input("\x1b[200~ok\x1b[201~", false, 0.0, events);
  EXPECT_EQ(printed(events), list({paste("ok")}));
}

TEST(InputDecoderTest, PasteEscapingBudgetIsEnforcedAtItsBoundary) {
  // Each 0x01 byte becomes a six-byte escape.
  const std::size_t fits = kMaxEscapedPasteBytes / 6;
  {
    InputDecoder decoder;
    EventQueue events;
    decoder.feed_input("\x1b[200~" + std::string(fits, '\x01') + "\x1b[201~", false, 0.0, events);
    scene::JsonPtr taken = events.take();
    ASSERT_EQ(cJSON_GetArraySize(taken.get()), 1);
    const cJSON* literal = cJSON_GetObjectItemCaseSensitive(cJSON_GetArrayItem(taken.get(), 0), "text");
    ASSERT_TRUE(cJSON_IsRaw(literal));
    EXPECT_EQ(std::string_view(literal->valuestring).size(), fits * 6 + 2);
  }
  {
    InputDecoder decoder;
    EventQueue events;
    decoder.feed_input("\x1b[200~" + std::string(fits + 1, '\x01') + "\x1b[201~", false, 0.0, events);
    EXPECT_EQ(printed(events),
              list({resource_error("Terminal paste exceeds the 16 MiB event budget after JSON escaping")}));
  }
}

// The printed paste event is JSON that parses back to the pasted text.
TEST(InputDecoderTest, PasteEventIsValidJson) {
  InputDecoder decoder;
  EventQueue events;
  decoder.feed_input("\x1b[200~caf\xC3\xA9 \"q\" \\ \t\r\n\x80\x1b[201~", false, 0.0, events);
  scene::JsonPtr taken = events.take();
  scene::JsonText text = scene::print_json(taken.get());
  ASSERT_TRUE(text);
  scene::JsonPtr parsed(cJSON_Parse(text.get()));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(scene::string_member(cJSON_GetArrayItem(parsed.get(), 0), "text"),
            "caf\xC3\xA9 \"q\" \\ \t\n\xEF\xBF\xBD");
}

}  // namespace
}  // namespace lumora::terminal
