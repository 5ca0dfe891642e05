#include "scene/draw_validation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "host/backend.h"
#include "json/json.h"
#include "scene/command_schema.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& json) {
  JsonPtr value(cJSON_Parse(json.c_str()));
  EXPECT_TRUE(value) << json;
  return value;
}

bool valid(const std::string& json) {
  JsonPtr command = parse(json);
  return validate_draw_command(command.get());
}

// One valid command of every kind the window draws, at its longest, with
// the shortest item count it allows.
struct KindExample {
  const char* command;
  int min_items;
};
const KindExample kExamples[] = {
    {R"(["begin", "#000"])", 2},
    {R"(["clip", [0, 0, 10, 10]])", 2},
    {R"(["rect", [0, 0, 10, 10], "#fff", 2, "#000", 1])", 6},
    {R"(["text", "hello", 1, 2, "#fff", 14, false])", 7},
    {R"(["line", 0, 0, 10, 10, "#fff", 1])", 7},
    {R"(["lines", [[0, 0], [1, 1], [2, 0]], "#fff", 1])", 4},
    {R"(["segments", [[0, 0], [1, 1]], "#fff", 1])", 4},
    {R"(["image", "a.png", [0, 0, 10, 10], "#fff", "contain"])", 5},
    {R"(["image_nine", "a.png", [0, 0, 10, 10], [1, 2, 3, 4], "#fff"])", 5},
    {R"(["gradient_rect", [0, 0, 10, 10], "#fff", "#000", "vertical", 0, 0])", 7},
    {R"(["styled_rect", [0, 0, 10, 10], {"fill": "#fff"}, [0, 0, 20, 20]])", 3},
    {R"(["marker", [0, 0, 10, 10], {}, "circle", true, null])", 5},
    {R"(["caret", 1, 2, 14, "#fff"])", 5},
    {R"(["focus_ring", [0, 0, 10, 10], "#fff", 4])", 4},
    {R"(["sprite", "s.png", [0, 0, 32, 32], 32, 32, 4, 2, true, "#fff"])", 9},
    {R"(["animated_rect", [0, 0, 10, 10], "#fff", 0, "", 0,
        {"property": "x", "from": 0, "to": 10, "duration": 1, "loop": true, "yoyo": false}])", 7},
};

TEST(DrawValidationTest, EveryWindowKindHasItsItemCount) {
  std::set<std::string> covered;
  for (const KindExample& example : kExamples) {
    JsonPtr command = parse(example.command);
    covered.insert(cJSON_GetArrayItem(command.get(), 0)->valuestring);
    EXPECT_TRUE(validate_draw_command(command.get())) << example.command;
    JsonPtr longer(cJSON_Duplicate(command.get(), 1));
    cJSON_AddItemToArray(longer.get(), cJSON_CreateNull());
    EXPECT_FALSE(validate_draw_command(longer.get())) << example.command << " with one item more";
    for (int count = cJSON_GetArraySize(command.get()) - 1; count >= 0; --count) {
      cJSON_DeleteItemFromArray(command.get(), count);
      EXPECT_EQ(validate_draw_command(command.get()), count >= example.min_items)
          << example.command << " cut to " << count << " items";
    }
  }
  for (const KindSchema& schema : kCommandSchema) {
    if (schema.backends & kWindowBackend) {
      EXPECT_TRUE(covered.count(std::string(schema.name))) << schema.name;
    }
  }
}

TEST(DrawValidationTest, CommandShapeTable) {
  struct Case {
    const char* command;
    bool valid;
  };
  const Case cases[] = {
      // Kinds: exact, case-sensitive, known, and drawn by the window.
      {R"(["icon", "check", 0, 0, 8, "#fff"])", false},
      {R"(["Rect", [0, 0, 1, 1], "", 0, "", 0])", false},
      {R"(["rect ", [0, 0, 1, 1], "", 0, "", 0])", false},
      {R"(["circle", [0, 0, 1, 1]])", false},
      {R"([1, [0, 0, 1, 1]])", false},
      {R"([null])", false},
      {R"([])", false},
      {R"({"kind": "begin"})", false},
      {R"("begin")", false},
      // Optional colours, and what nothing-drawn commands may be.
      {R"(["rect", [0, 0, 1, 1], "", 0, null, 0])", true},
      {R"(["rect", [0, 0, 1, 1], null, 0, "", 0])", true},
      {R"(["rect", [0, 0, 1, 1], "", 0, "red", 0])", false},
      {R"(["rect", [0, 0, 1, 1], 0, 0, "", 0])", false},
      {R"(["begin", ""])", false},
      {R"(["begin", null])", false},
      {R"(["text", "a", 0, 0, "", 14, false])", false},
      // Colour spellings.
      {R"(["begin", "#FFF"])", true},
      {R"(["begin", "fFfF"])", true},
      {R"(["begin", "#ffffff"])", true},
      {R"(["begin", "FFFFFF80"])", true},
      {R"(["begin", "#fffff"])", false},
      {R"(["begin", "#"])", false},
      {R"(["begin", "#ffffffff0"])", false},
      {R"(["begin", "#ggg"])", false},
      // Rects: four numbers.
      {R"(["clip", null])", true},
      {R"(["clip", [0, 0, 1]])", false},
      {R"(["clip", [0, 0, 1, 1, 1]])", false},
      {R"(["clip", [0, 0, 1, "1"]])", false},
      {R"(["clip", [0, 0, -1, 1]])", false},
      {R"(["clip", {}])", false},
      {R"(["styled_rect", [0, 0, 1, 1], {}, null])", true},
      {R"(["styled_rect", [0, 0, 1, 1], {}, [0, 0, 1]])", false},
      {R"(["styled_rect", [0, 0, 1, 1], {}, false])", false},
      {R"(["focus_ring", null, "#fff", 0])", false},
      // Texts, sources and bools.
      {R"(["text", "", 0, 0, "#fff", 14, true])", true},
      {R"(["text", 5, 0, 0, "#fff", 14, true])", false},
      {R"(["text", "a", 0, 0, "#fff", 14, 1])", false},
      {R"(["text", "a", 0, 0, "#fff", 14, 0])", false},
      {R"(["text", "a", 0, 0, "#fff", 0, false])", false},
      {R"(["text", "a", 0, 0, "#fff", "14", false])", false},
      {R"(["image", null, [0, 0, 1, 1], "#fff", "cover"])", false},
      {R"(["image", "", [0, 0, 1, 1], "#fff", "stretch"])", true},
      // Enumerations are exact.
      {R"(["image", "a", [0, 0, 1, 1], "#fff", "Cover"])", false},
      {R"(["image", "a", [0, 0, 1, 1], "#fff", "fill"])", false},
      {R"(["gradient_rect", [0, 0, 1, 1], "#fff", "#000", "horizontal", 0, 0])", true},
      {R"(["gradient_rect", [0, 0, 1, 1], "#fff", "#000", "diagonal", 0, 0])", false},
      {R"(["gradient_rect", [0, 0, 1, 1], "#fff", "", "vertical", 0, 0])", false},
      {R"(["marker", [0, 0, 1, 1], {}, "square", false])", true},
      {R"(["marker", [0, 0, 1, 1], {}, "round", false])", false},
      {R"(["marker", [0, 0, 1, 1], {}, "square", null])", false},
      // Insets.
      {R"(["image_nine", "a", [0, 0, 1, 1], [1, 2, 3], "#fff"])", false},
      {R"(["image_nine", "a", [0, 0, 1, 1], [1, 2, 3, 4, 5], "#fff"])", false},
      {R"(["image_nine", "a", [0, 0, 1, 1], [1, 2, 3, null], "#fff"])", false},
      // Point lists.
      {R"(["lines", [], "#fff", 1])", true},
      {R"(["segments", [], "#fff", 1])", true},
      {R"(["lines", [[0, 0], [1, 1], [2, 2]], "#fff", 1])", true},
      {R"(["segments", [[0, 0], [1, 1], [2, 2]], "#fff", 1])", false},
      {R"(["lines", [[0, 0], [1]], "#fff", 1])", false},
      {R"(["lines", [[0, 0], [1, 1, 1]], "#fff", 1])", false},
      {R"(["lines", [[0, 0], [1, "1"]], "#fff", 1])", false},
      {R"(["lines", [[0, 0], 1], "#fff", 1])", false},
      {R"(["lines", [[0, 1000001]], "#fff", 1])", false},
      {R"(["lines", {}, "#fff", 1])", false},
      // Sprite counts are integers.
      {R"(["sprite", "s", [0, 0, 1, 1], 32, 32, 3.0, 2, false, "#fff"])", true},
      {R"(["sprite", "s", [0, 0, 1, 1], 32, 32, 2.5, 2, false, "#fff"])", false},
      {R"(["sprite", "s", [0, 0, 1, 1], 32.5, 32, 2, 2, false, "#fff"])", false},
      {R"(["sprite", "s", [0, 0, 1, 1], 32, 32, 2, 0.005, false, "#fff"])", false},
      {R"(["sprite", "s", [0, 0, 1, 1], 32, 32, 2, 2, "false", "#fff"])", false},
      // Styles go through the style rules.
      {R"(["styled_rect", [0, 0, 1, 1], {"bevel": "Raised"}])", false},
      {R"(["styled_rect", [0, 0, 1, 1], {"fill": "#fff", "fill": "#fff"}])", false},
      {R"(["styled_rect", [0, 0, 1, 1], {"shadow_blur": 24, "padding": 0}])", true},
      {R"(["styled_rect", [0, 0, 1, 1], null])", false},
      {R"(["marker", [0, 0, 1, 1], {"foreground": "nope"}, "circle", true])", false},
  };
  for (const Case& c : cases) EXPECT_EQ(valid(c.command), c.valid) << c.command;
}

TEST(DrawValidationTest, AnimationObjectTable) {
  struct Case {
    const char* animation;
    bool valid;
  };
  const Case cases[] = {
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1})", true},
      {R"({"duration": 1, "to": 1, "from": 0, "property": "opacity", "loop": false, "yoyo": true})", true},
      {R"({"property": "y", "from": -1000000, "to": 1000000, "duration": 86400})", true},
      {R"({"property": "width", "from": 0, "to": 1, "duration": 1})", false},
      {R"({"property": "X", "from": 0, "to": 1, "duration": 1})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 0})", false},
      {R"({"property": "x", "from": 0, "to": 1})", false},
      {R"({"property": "x", "from": 0, "duration": 1})", false},
      {R"({"property": "x", "to": 1, "duration": 1})", false},
      {R"({"from": 0, "to": 1, "duration": 1})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "easing": "linear"})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "Loop": true})", false},
      {R"({"property": "x", "property": "y", "from": 0, "to": 1, "duration": 1})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "loop": true, "loop": true})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "loop": 1})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "yoyo": "true"})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "loop": null})", false},
      {R"({"property": "x", "from": [0], "to": 1, "duration": 1})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": "1"})", false},
      {R"({"property": "x", "from": 0, "to": 1, "duration": 1, "loop": {}})", false},
      {R"({})", false},
      {R"([])", false},
      {R"(null)", false},
  };
  for (const Case& c : cases) {
    const std::string command = std::string(R"(["animated_rect", [0, 0, 1, 1], "#fff", 0, "", 0, )") +
                                c.animation + "]";
    EXPECT_EQ(valid(command), c.valid) << c.animation;
  }
}

// Where a number sits inside a command: item, then array indexes or a member.
struct NumberAt {
  const char* command;
  std::vector<int> path;
  const char* member;  // the last step, in an object; null for none
  double accepted;
  double rejected;
};

double above(double v) { return std::nextafter(v, std::numeric_limits<double>::infinity()); }
double below(double v) { return std::nextafter(v, -std::numeric_limits<double>::infinity()); }

// `command` with the number at `at` replaced by `value`.
JsonPtr with_number(const NumberAt& at, double value) {
  JsonPtr command = parse(at.command);
  cJSON* parent = command.get();
  for (std::size_t i = 0; i + 1 < at.path.size(); ++i) parent = cJSON_GetArrayItem(parent, at.path[i]);
  cJSON* number = cJSON_CreateNumber(value);
  bool replaced = false;
  if (at.member != nullptr) {
    parent = cJSON_GetArrayItem(parent, at.path.back());
    replaced = cJSON_ReplaceItemInObjectCaseSensitive(parent, at.member, number);
  } else {
    replaced = cJSON_ReplaceItemInArray(parent, at.path.back(), number);
  }
  EXPECT_TRUE(replaced) << at.command;
  if (!replaced) cJSON_Delete(number);
  return command;
}

TEST(DrawValidationTest, EveryNumberAtItsBoundaryPair) {
  const char* rect = R"(["rect", [0, 0, 1, 1], "", 0, "", 0])";
  const char* text = R"(["text", "a", 0, 0, "#fff", 14, false])";
  const char* line = R"(["line", 0, 0, 0, 0, "#fff", 1])";
  const char* lines = R"(["lines", [[0, 0]], "#fff", 1])";
  const char* nine = R"(["image_nine", "a", [0, 0, 1, 1], [0, 0, 0, 0], "#fff"])";
  const char* gradient = R"(["gradient_rect", [0, 0, 1, 1], "#fff", "#000", "vertical", 0, 0])";
  const char* caret = R"(["caret", 0, 0, 0, "#fff"])";
  const char* sprite = R"(["sprite", "s", [0, 0, 1, 1], 1, 1, 1, 1, false, "#fff"])";
  const char* animated =
      R"(["animated_rect", [0, 0, 1, 1], "", 0, "", 0, {"property": "x", "from": 0, "to": 0, "duration": 1}])";
  const double m = 1000000;
  const NumberAt cases[] = {
      {rect, {1, 0}, nullptr, m, above(m)},
      {rect, {1, 0}, nullptr, -m, below(-m)},
      {rect, {1, 1}, nullptr, -m, below(-m)},
      {rect, {1, 2}, nullptr, 0, below(0)},
      {rect, {1, 3}, nullptr, m, above(m)},
      {rect, {3}, nullptr, m, above(m)},
      {rect, {5}, nullptr, 0, below(0)},
      {text, {2}, nullptr, m, above(m)},
      {text, {3}, nullptr, -m, below(-m)},
      {text, {5}, nullptr, 0.01, below(0.01)},
      {text, {5}, nullptr, 2048, above(2048)},
      {line, {1}, nullptr, -m, below(-m)},
      {line, {4}, nullptr, m, above(m)},
      {line, {6}, nullptr, 0, below(0)},
      {line, {6}, nullptr, m, above(m)},
      {lines, {1, 0, 0}, nullptr, m, above(m)},
      {lines, {1, 0, 1}, nullptr, -m, below(-m)},
      {lines, {3}, nullptr, 0, below(0)},
      {nine, {3, 0}, nullptr, 0, below(0)},
      {nine, {3, 3}, nullptr, 8192, above(8192)},
      {gradient, {5}, nullptr, m, above(m)},
      {gradient, {6}, nullptr, 0, below(0)},
      {caret, {3}, nullptr, 0, below(0)},
      {caret, {1}, nullptr, m, above(m)},
      {sprite, {3}, nullptr, 8192, 8193},
      {sprite, {4}, nullptr, 1, 0},
      {sprite, {5}, nullptr, 4096, 4097},
      {sprite, {5}, nullptr, 2, 2.5},
      {sprite, {6}, nullptr, 0.01, below(0.01)},
      {sprite, {6}, nullptr, 1000, above(1000)},
      {animated, {6}, "from", -m, below(-m)},
      {animated, {6}, "to", m, above(m)},
      {animated, {6}, "duration", 0.001, below(0.001)},
      {animated, {6}, "duration", 86400, above(86400)},
      {animated, {3}, nullptr, 0, below(0)},
  };
  for (const NumberAt& at : cases) {
    const std::string where = std::string(at.command) + " at " + std::to_string(at.path.back()) +
                              (at.member != nullptr ? at.member : "");
    EXPECT_TRUE(validate_draw_command(with_number(at, at.accepted).get())) << where << " = " << at.accepted;
    EXPECT_FALSE(validate_draw_command(with_number(at, at.rejected).get())) << where << " = " << at.rejected;
    // A reader may turn out-of-range literals into infinities or NaN.
    for (double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
      EXPECT_FALSE(validate_draw_command(with_number(at, bad).get())) << where << " = " << bad;
    }
  }
}

// The largest point list is accepted, one point more is not; "segments"
// also needs an even count.
TEST(DrawValidationTest, PointListLimit) {
  for (const char* kind : {"lines", "segments"}) {
    JsonPtr command(cJSON_CreateArray());
    cJSON_AddItemToArray(command.get(), cJSON_CreateString(kind));
    cJSON* points = cJSON_CreateArray();
    cJSON_AddItemToArray(command.get(), points);
    cJSON_AddItemToArray(command.get(), cJSON_CreateString("#fff"));
    cJSON_AddItemToArray(command.get(), cJSON_CreateNumber(1));
    const double xy[2] = {1, 2};
    for (std::uint64_t i = 0; i < kMaxCommandPoints; ++i) cJSON_AddItemToArray(points, cJSON_CreateDoubleArray(xy, 2));
    EXPECT_TRUE(validate_draw_command(command.get())) << kind;
    cJSON_AddItemToArray(points, cJSON_CreateDoubleArray(xy, 2));
    EXPECT_FALSE(validate_draw_command(command.get())) << kind;
    cJSON_AddItemToArray(points, cJSON_CreateDoubleArray(xy, 2));
    EXPECT_FALSE(validate_draw_command(command.get())) << kind;
  }
}

// Texts and sources may be 16 MiB long, not a byte more.
TEST(DrawValidationTest, StringLengthLimit) {
  std::string text(kMaxStringBytes, 'a');
  for (std::size_t length : {kMaxStringBytes, kMaxStringBytes + 1}) {
    text.resize(length, 'a');
    JsonPtr label = parse(R"(["text", "", 0, 0, "#fff", 14, false])");
    cJSON_ReplaceItemInArray(label.get(), 1, cJSON_CreateString(text.c_str()));
    JsonPtr image = parse(R"(["image", "", [0, 0, 1, 1], "#fff", "cover"])");
    cJSON_ReplaceItemInArray(image.get(), 1, cJSON_CreateString(text.c_str()));
    const bool expected = length <= kMaxStringBytes;
    EXPECT_EQ(validate_draw_command(label.get()), expected) << length;
    EXPECT_EQ(validate_draw_command(image.get()), expected) << length;
  }
}

TEST(DrawValidationTest, ReportNamesIndexAndKind) {
  struct Case {
    const char* command;
    std::size_t index;
    const char* message;
  };
  const Case cases[] = {
      {R"(["icon", "check", 0, 0, 8, "#fff"])", 3, "Invalid draw command at index 3 (icon)"},
      {R"([7])", 200000, "Invalid draw command at index 200000 ()"},
      {R"({})", 0, "Invalid draw command at index 0 ()"},
  };
  for (const Case& c : cases) {
    JsonPtr command = parse(c.command);
    host::HostErrorBuffer buffer;
    report_invalid_draw_command(buffer.text(), c.index, command.get());
    EXPECT_STREQ(buffer.c_str(), c.message);
  }
}

TEST(DrawValidationTest, ReportCutsAHugeKindAtACharacterBoundary) {
  // 16 MiB of two-byte characters: the message fills the buffer and ends on
  // a whole character.
  std::string kind;
  for (std::size_t i = 0; i < kMaxStringBytes / 2; ++i) kind += "\xc3\xa9";
  JsonPtr command(cJSON_CreateArray());
  cJSON_AddItemToArray(command.get(), cJSON_CreateString(kind.c_str()));
  ErrorBuffer<64> buffer;
  report_invalid_draw_command(buffer.text(), 12, command.get());
  const std::string message = buffer.c_str();
  const std::string prefix = "Invalid draw command at index 12 (";
  ASSERT_EQ(message.compare(0, prefix.size(), prefix), 0) << message;
  EXPECT_GE(message.size(), 61u);
  EXPECT_LE(message.size(), 63u);
  EXPECT_EQ((message.size() - prefix.size()) % 2, 0u);  // whole characters only
  EXPECT_EQ(message.substr(prefix.size()), kind.substr(0, message.size() - prefix.size()));
}

}  // namespace
}  // namespace lumora::scene
