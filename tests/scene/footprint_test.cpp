#include "scene/footprint.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;

JsonPtr parse(const char* text) { return JsonPtr(cJSON_Parse(text)); }

TEST(JsonFootprint, CountsValuesStringsAndNames) {
  JsonPtr empty = parse("[]");
  EXPECT_EQ(json_footprint(empty.get()), 64u);
  EXPECT_EQ(json_footprint_as_member(empty.get(), "commands"), 64u + 9u);
  JsonPtr list = parse(R"([["rect",1]])");
  EXPECT_EQ(json_footprint(list.get()), 64u + 64u + (64u + 5u) + 64u);
  JsonPtr object = parse(R"({"ab":"xyz"})");
  EXPECT_EQ(json_footprint(object.get()), 64u + (64u + 3u + 4u));
  EXPECT_EQ(json_footprint(nullptr), 0u);
}

TEST(JsonFootprint, MemberNameOfTheItemIsReplaced) {
  JsonPtr object = parse(R"({"commands":[1]})");
  const cJSON* commands = cJSON_GetObjectItemCaseSensitive(object.get(), "commands");
  EXPECT_EQ(json_footprint(commands), 64u + 9u + 64u);
  EXPECT_EQ(json_footprint_as_member(commands, "commands"), 64u + 9u + 64u);
  EXPECT_EQ(json_footprint_as_member(commands, "x"), 64u + 2u + 64u);
}

TEST(JsonFootprint, OversizedValueReportsBudgetPlusOne) {
  std::string big(kRetainedSceneBudget - 64, 'x');  // 64 + len + 1 is one above the budget
  JsonPtr text(cJSON_CreateString(big.c_str()));
  EXPECT_EQ(json_footprint(text.get()), kFootprintOverflow);
  big.pop_back();
  JsonPtr exact(cJSON_CreateString(big.c_str()));
  EXPECT_EQ(json_footprint(exact.get()), kRetainedSceneBudget);
  JsonPtr list(cJSON_CreateArray());
  cJSON_AddItemReferenceToArray(list.get(), exact.get());
  EXPECT_EQ(json_footprint(list.get()), kFootprintOverflow);
}

TEST(AddCharge, Saturates) {
  EXPECT_EQ(add_charge(1, 2), 3u);
  EXPECT_EQ(add_charge(kRetainedSceneBudget, 0), kRetainedSceneBudget);
  EXPECT_EQ(add_charge(kRetainedSceneBudget, 1), kFootprintOverflow);
  EXPECT_EQ(add_charge(~0ull, 5), kFootprintOverflow);
}

}  // namespace
}  // namespace lumora::scene
