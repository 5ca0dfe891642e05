#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/json.h"

namespace lumora::json {
namespace {

// What cJSON itself prints: the bytes controllers have always received.
std::string reference_text(const cJSON* item) {
  JsonText text(cJSON_PrintUnformatted(item));
  return text ? std::string(text.get()) : std::string("<unprintable>");
}

std::string written_text(const cJSON* item) {
  std::size_t length = json_text_length(item);
  if (length == 0) return "<unprintable>";
  std::string text(length, '\0');
  EXPECT_EQ(write_json(item, text.data(), text.size()), length);
  return text;
}

void expect_same_number(double value) {
  JsonPtr item(cJSON_CreateNumber(value));
  ASSERT_TRUE(item);
  EXPECT_EQ(written_text(item.get()), reference_text(item.get())) << std::hexfloat << value;
}

TEST(JsonWriter, NumbersPrintAsTheLibraryPrintsThem) {
  const double edge_cases[] = {
      0.0, -0.0, 1, -1, 0.5, 0.1, 0.2, 1.0 / 3, 2.0 / 3, 100, 1e15, 1e16, 1e17, 1e21, 1e22, 1e-5, 1e-7,
      123456789012345678.0, 9007199254740992.0, 9007199254740993.0, -9007199254740992.0,
      2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0, 2147483646.5, 4294967296.0,
      DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_EPSILON, 5e-324, -5e-324, 2.225073858507201e-308,
      1.7976931348623157e308, 0.016666666666666666, 0.0166, 16.666666666666668, 60.000000000000007,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(), 1e300 * 10, 3.14159265358979, 3.141592653589793,
  };
  for (double value : edge_cases) expect_same_number(value);

  // Every integer magnitude up to 2^53, and random doubles of every scale.
  for (int bit = 0; bit <= 53; ++bit) {
    double power = std::ldexp(1.0, bit);
    for (double value : {power, power - 1, power + 1, -power, -(power - 1)}) expect_same_number(value);
  }
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-330, 310);
  for (int i = 0; i < 20000; ++i) {
    expect_same_number(unit(random) * std::pow(10.0, exponent(random)) * (i % 2 ? -1 : 1));
    std::uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    expect_same_number(any);
    // Timing-like values: small seconds with sub-microsecond noise.
    expect_same_number(unit(random) * 0.05);
    expect_same_number(static_cast<double>(random() >> 11));
  }
}

TEST(JsonWriter, StructuresAndStringsPrintAsTheLibraryPrintsThem) {
  const char* parsed_texts[] = {
      R"j({})j",
      R"j([])j",
      R"j({"ok":true,"result":null})j",
      R"j({"ok":false,"error":"Invalid draw command at index 3 (rect)"})j",
      R"j({"a":[1,2.5,-3e-7,{"b":[[],{}]}],"c":"\u0001\u001f\"\\\/\b\f\n\r\t","d":false})j",
      R"j(["é漢字🙂", "\u007f", "", " ", "tab\there"])j",
      R"j({"kind":"text","text":"a\u0000b"})j",
  };
  for (const char* text : parsed_texts) {
    JsonPtr item(cJSON_Parse(text));
    ASSERT_TRUE(item) << text;
    EXPECT_EQ(written_text(item.get()), reference_text(item.get())) << text;
  }

  // Every control byte, and names that need escaping.
  JsonPtr object(cJSON_CreateObject());
  std::string controls;
  for (int c = 1; c < 128; ++c) controls.push_back(static_cast<char>(c));
  cJSON_AddStringToObject(object.get(), "controls", controls.c_str());
  cJSON_AddStringToObject(object.get(), "na\"me\n", "v");
  cJSON_AddItemToObject(object.get(), "raw", cJSON_CreateRaw("{\"x\":1}"));
  cJSON_AddItemToObject(object.get(), "empty", cJSON_CreateString(""));
  EXPECT_EQ(written_text(object.get()), reference_text(object.get()));
}

TEST(JsonWriter, TooSmallABufferWritesNothingBeyondIt) {
  JsonPtr item(cJSON_Parse(R"({"frames":120,"fps":59.94005994005994,"text":"abcdef"})"));
  std::size_t length = json_text_length(item.get());
  ASSERT_GT(length, 0u);
  std::vector<char> buffer(length + 8, '#');
  for (std::size_t room = 0; room < length; ++room) {
    EXPECT_EQ(write_json(item.get(), buffer.data(), room), 0u) << room;
    EXPECT_EQ(buffer[room], '#') << room;
  }
  EXPECT_EQ(write_json(item.get(), buffer.data(), length), length);
  EXPECT_EQ(std::string(buffer.data(), length), reference_text(item.get()));
}

TEST(JsonWriter, UnprintableItemsAreRefused) {
  JsonPtr raw(cJSON_CreateRaw(nullptr));
  if (raw) {
    raw->valuestring = nullptr;
    EXPECT_EQ(json_text_length(raw.get()), 0u);
  }
  cJSON invalid{};
  EXPECT_EQ(json_text_length(&invalid), 0u);
  char out[8];
  EXPECT_EQ(write_json(&invalid, out, sizeof out), 0u);
}

}  // namespace
}  // namespace lumora::json
