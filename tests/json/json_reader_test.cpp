#include "json/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/json_reference.h"

namespace lumora::json {
namespace {

using namespace std::string_literals;
using test::json_difference;
using test::reference_parse;

constexpr std::size_t kNesting = 64;

// Reads `text` both ways and expects the same verdict and the same items.
void expect_same_as_cjson(JsonReader& reader, const std::string& text) {
  JsonReadStatus status = reader.read(text.data(), text.size(), kNesting);
  JsonPtr reference = reference_parse(text.data(), text.size(), kNesting);
  ASSERT_EQ(reference != nullptr, status == JsonReadStatus::parsed) << text;
  if (reference) {
    EXPECT_EQ("", json_difference(reader.root(), reference.get())) << text;
  }
}

TEST(JsonReaderTest, ReadsWhatCjsonReadsItemForItem) {
  const std::string documents[] = {
      R"({"op":"frame","commands":[["begin","#0b0e14"],["rect",[0,0,1600,32],"#1c2230",0,"",0]]})",
      R"([0,-0,7,-7,00012,123456789012345,1234567890123456,9007199254740993,18446744073709551617])",
      R"([0.5,-0.25,0.1,3.14159265358979,2.718281828459045,00.5,-0.0,1.,-.5,1.e5,0.e1])",
      R"([1e5,1E+2,1e-2,-1.5e-300,1e-400,1e999,-1e999,1.7976931348623157e308,4.9e-324])",
      R"([2147483647,2147483648,-2147483648,-2147483649,1e10,-1e10,2147483647.5])",
      R"(["","x","\n\t\r\b\f\/\\\"","\u00e9\u4e2d\ud83d\ude00","é中😀"])",
      "[\"\x01\x1f raw control bytes\",\"\xff\xfe not UTF-8\"]",
      R"({"a":1,"a":2,"":3,"\u0041\n":4})",
      R"([[],{},[[]],{"a":{}},[{}],null,true,false])",
      "\xEF\xBB\xBF{\"after a byte order mark\":true}",
      " \t\r\n\x01\x1f{ \"a\" : [ 1 , 2 ] , \"b\" :\t\"c\" }",
      "\0{\"a\":1}"s,  // a zero byte outside strings is whitespace to both
      R"("just a string")",
      R"(12)",
      R"(true)",
      "[" + std::string(64, '1') + "," + std::string(400, '2') + "]",  // longer than the stack copy
      "[1" + std::string(70, '0') + "e-70,1" + std::string(70, '0') + "e-70.]",
  };
  JsonReader reader;
  for (const std::string& text : documents) expect_same_as_cjson(reader, text);
}

TEST(JsonReaderTest, RefusesWhatCjsonRefuses) {
  const std::string documents[] = {
      "",
      "   ",
      R"({"a":1} )",  // trailing whitespace is left unread, so the body is not one value
      R"({"a":1}{})",
      R"([1,])",
      R"([,1])",
      R"({"a"})",
      R"({"a":})",
      R"({a:1})",
      R"({"a":1,})",
      R"([nul])",
      R"([nulll])",
      R"([True])",
      R"([-])",
      R"([1e])",
      R"([1e+])",
      R"([1.5.3])",
      R"([01x])",
      R"([.5])",
      R"([+1])",
      R"([0x10])",
      R"([-inf])",
      R"(["unterminated)",
      R"(["ends in a backslash\)",
      R"(["\x"])",
      R"(["\udc00"])",        // a low surrogate alone
      R"(["\ud800"])",        // a high surrogate alone
      R"(["\ud800\u0041"])",  // followed by no low surrogate
      R"(["\ud800x"])",
      R"(["\u12"])",
      "\xEF\xBB\xBF",
      R"([1 2])",
      R"({"a":1 "b":2})",
  };
  JsonReader reader;
  for (const std::string& text : documents) expect_same_as_cjson(reader, text);
}

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(JsonReaderTest, IsStricterThanCjsonWhereCjsonCutsOrNestsDeep) {
  struct Case {
    std::string text;
    JsonReadStatus status;
  };
  std::string deepest = std::string(64, '[') + std::string(64, ']');
  std::string too_deep = std::string(65, '[') + std::string(65, ']');
  const Case cases[] = {
      {R"(["\u00zz"])", JsonReadStatus::invalid},  // cJSON reads code point 0 and cuts the string
      {R"(["\u00e"])", JsonReadStatus::invalid},
      {R"(["\ud800\uzzzz"])", JsonReadStatus::invalid},
      {deepest, JsonReadStatus::parsed},
      {too_deep, JsonReadStatus::invalid},
      {"[" + repeated("{\"a\":", 40) + "1" + std::string(40, '}') + "," + std::string(40, '[') +
           std::string(40, ']') + "]",
       JsonReadStatus::parsed},  // siblings do not add up
      {R"({"a":"x\u0000y"})", JsonReadStatus::nul_in_string},
      {R"({"\u0000":1})", JsonReadStatus::nul_in_string},
      {"{\"a\":\"x\0y\"}"s, JsonReadStatus::nul_in_string},
      {"{\"a\":\"\\n\0\"}"s, JsonReadStatus::nul_in_string},  // after an escape
      {"{\"a\":\"\\\0\"}"s, JsonReadStatus::invalid},          // escaped: not an escape at all
      {R"({"a":"\\u0000"})", JsonReadStatus::parsed},          // an escaped backslash, then text
  };
  JsonReader reader;
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, reader.read(c.text.data(), c.text.size(), kNesting)) << c.text;
    EXPECT_EQ(c.status == JsonReadStatus::parsed, reader.root() != nullptr) << c.text;
  }
}

// A random document of every kind of value, numbers and strings drawn to
// hit the reader's fast and slow paths.
class RandomDocument {
 public:
  explicit RandomDocument(unsigned seed) : random_(seed) {}

  std::string value(int depth) {
    switch (pick(depth < 4 ? 9 : 6)) {
      case 0: return "null";
      case 1: return pick(2) ? "true" : "false";
      case 2: return integer();
      case 3: return decimal();
      case 4:
      case 5: return string();
      case 6:
      case 7: {
        std::string out = "[";
        for (int i = 0, n = pick(5); i < n; ++i) out += (i ? "," : "") + space() + value(depth + 1) + space();
        return out + "]";
      }
      default: {
        std::string out = "{";
        for (int i = 0, n = pick(5); i < n; ++i) {
          out += (i ? "," : "") + space() + string() + space() + ":" + space() + value(depth + 1);
        }
        return out + "}";
      }
    }
  }

  // The text with a few bytes changed, dropped or repeated.
  std::string mutated(std::string text) {
    for (int i = 0, n = 1 + pick(3); i < n && !text.empty(); ++i) {
      std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(text.size())));
      static const char kBytes[] = "\"\\u{}[],:.-+eE0159aZ \x01\x7f\xc3";
      switch (pick(3)) {
        case 0: text[at] = kBytes[pick(sizeof kBytes - 1)]; break;
        case 1: text.erase(at, 1); break;
        default: text.insert(at, 1, text[at]); break;
      }
    }
    return text;
  }

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

 private:
  std::string space() { return pick(4) ? "" : std::string(" \t\n\r").substr(pick(4), 1); }

  std::string integer() {
    static const long long kEdges[] = {0, 1, -1, 9, 2147483647, 2147483648LL, -2147483648LL, -2147483649LL,
                                       999999999999999LL, 1000000000000000LL, 9007199254740993LL};
    if (pick(3) == 0) return std::to_string(kEdges[pick(sizeof kEdges / sizeof kEdges[0])]);
    long long magnitude = std::uniform_int_distribution<long long>(0, 1LL << pick(62))(random_);
    return (pick(3) == 0 ? "-" : "") + std::string(pick(6) == 0 ? "00" : "") + std::to_string(magnitude);
  }

  std::string decimal() {
    char text[64];
    double value = std::uniform_real_distribution<double>(-1, 1)(random_);
    switch (pick(5)) {
      case 0: std::snprintf(text, sizeof text, "%.*f", 1 + pick(8), value * 1000); break;
      case 1: std::snprintf(text, sizeof text, "%.17g", value); break;
      case 2: std::snprintf(text, sizeof text, "%.*e", pick(16), value * std::pow(10.0, pick(600) - 300)); break;
      case 3: std::snprintf(text, sizeof text, "%.*f", pick(20), value); break;
      default: std::snprintf(text, sizeof text, "%.15g", value * 1e6); break;
    }
    return text;
  }

  std::string string() {
    static const char* const kPieces[] = {"a", "Lumora", " ", "é", "中", "😀", "\\n", "\\\"", "\\\\", "\\/",
                                          "\\t", "\\u0041", "\\u00e9", "\\u4E2D", "\\ud83d\\ude00", "\x01",
                                          "\xff", "#0b0e14", "12:34:56"};
    std::string out = "\"";
    for (int i = 0, n = pick(6); i < n; ++i) out += kPieces[pick(sizeof kPieces / sizeof kPieces[0])];
    return out + "\"";
  }

  std::mt19937 random_;
};

TEST(JsonReaderTest, RandomDocumentsAndTheirMutationsReadAsCjsonReadsThem) {
  JsonReader reader;
  int read_mutations = 0;
  std::size_t bytes = 0;
  for (unsigned seed = 0; seed < 1000; ++seed) {
    RandomDocument random(seed);
    std::string document = "{\"op\":" + random.value(0) + ",\"v\":[" + random.value(0) + "," + random.value(1) +
                           "," + random.value(1) + "]}";
    expect_same_as_cjson(reader, document);
    bytes += document.size();
    for (int i = 0; i < 8; ++i) {
      std::string mutated = random.mutated(document);
      if (test::has_malformed_unicode_escape(mutated.data(), mutated.size())) continue;
      if (reader.read(mutated.data(), mutated.size(), kNesting) == JsonReadStatus::nul_in_string) continue;
      expect_same_as_cjson(reader, mutated);
      if (reader.root() != nullptr) ++read_mutations;
    }
  }
  // The mix must exercise both verdicts on documents of some size.
  EXPECT_GT(read_mutations, 500);
  EXPECT_GT(bytes, 100000u);
}

TEST(JsonReaderTest, StorageIsReusedAndBoundedAfterALargeDocument) {
  JsonReader reader;
  const std::string small = R"({"op":"frame","commands":[["text","12:34:56",1520,8,"#e5c07b",14,true]]})";
  ASSERT_EQ(JsonReadStatus::parsed, reader.read(small.data(), small.size(), kNesting));
  std::size_t after_first = reader.storage_bytes();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(JsonReadStatus::parsed, reader.read(small.data(), small.size(), kNesting));
  EXPECT_EQ(after_first, reader.storage_bytes());

  std::string large = "[";
  for (int i = 0; i < 200000; ++i) large += i ? ",[1,\"x\"]" : "[1,\"x\"]";
  large += "]";
  ASSERT_EQ(JsonReadStatus::parsed, reader.read(large.data(), large.size(), kNesting));
  EXPECT_GT(reader.storage_bytes(), 4 * JsonReader::kRetainedBytes);
  EXPECT_EQ(200000, cJSON_GetArraySize(reader.root()));
  EXPECT_STREQ("x", cJSON_GetArrayItem(cJSON_GetArrayItem(reader.root(), 199999), 1)->valuestring);
  reader.clear();
  EXPECT_EQ(nullptr, reader.root());
  EXPECT_LE(reader.storage_bytes(), JsonReader::kRetainedBytes);
  ASSERT_EQ(JsonReadStatus::parsed, reader.read(small.data(), small.size(), kNesting));
  expect_same_as_cjson(reader, small);
}

TEST(JsonReaderTest, ALongStringGetsItsOwnStorage) {
  JsonReader reader;
  std::string text = "[\"" + std::string(3 * 1024 * 1024, 'y') + "\",\"z\\n\"]";
  ASSERT_EQ(JsonReadStatus::parsed, reader.read(text.data(), text.size(), kNesting));
  EXPECT_EQ(3u * 1024 * 1024, std::string(cJSON_GetArrayItem(reader.root(), 0)->valuestring).size());
  EXPECT_STREQ("z\n", cJSON_GetArrayItem(reader.root(), 1)->valuestring);
}

}  // namespace
}  // namespace lumora::json
