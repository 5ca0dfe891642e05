#include "scene/command_schema.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace lumora::scene {
namespace {

using json::JsonPtr;

JsonPtr parse(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str())); }

TEST(CommandSchema, FindsEveryKindByItsExactName) {
  for (const KindSchema& schema : kCommandSchema) EXPECT_EQ(find_kind_schema(schema.name), &schema) << schema.name;
  for (const char* name : {"", "RECT", "rec", "rects", "gradient_rectx"}) EXPECT_EQ(find_kind_schema(name), nullptr);
  EXPECT_EQ(command_schema(parse(R"(["segments",[],"#fff",1])").get())->kind, CommandKind::lines);
  // A kind longer than every name is unknown, whatever follows its prefix.
  EXPECT_EQ(command_schema(parse("[\"gradient_rect" + std::string(1000, 'x') + "\"]").get()), nullptr);
  EXPECT_EQ(command_schema(parse("[1]").get()), nullptr);
  EXPECT_EQ(command_schema(parse("{}").get()), nullptr);
}

}  // namespace
}  // namespace lumora::scene
