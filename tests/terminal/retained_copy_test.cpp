#include "terminal/retained_copy.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "scene/footprint.h"
#include "scene/scene_format.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::parse;

// Random JSON from a small alphabet, so that equal, nearly equal and
// differently charged values meet often: numbers a rounding error apart,
// infinities, repeated object names, names on array items, leaves with
// children.
class RandomJson {
 public:
  explicit RandomJson(unsigned seed) : random_(seed) {}

  cJSON* value(int depth) {
    switch (pick(depth > 0 ? 9 : 6)) {
      case 0: return cJSON_CreateNumber(number());
      case 1: return cJSON_CreateString(text());
      case 2: return pick(2) ? cJSON_CreateTrue() : cJSON_CreateFalse();
      case 3: return cJSON_CreateNull();
      case 4: return cJSON_CreateNumber(number());
      case 5: return pick(8) == 0 ? cJSON_CreateRaw("1") : cJSON_CreateString(text());
      case 6:
      case 7: {
        cJSON* array = cJSON_CreateArray();
        for (int i = pick(4); i > 0; --i) {
          cJSON* item = value(depth - 1);
          cJSON_AddItemToArray(array, item);
          if (pick(16) == 0) item->string = cJSON_strdup_like(pick(2) ? "n" : "name");
        }
        return array;
      }
      default: {
        cJSON* object = cJSON_CreateObject();
        for (int i = pick(3); i > 0; --i) cJSON_AddItemToObject(object, pick(2) ? "x" : "y", value(depth - 1));
        return object;
      }
    }
  }

  // A copy of `source` with, now and then, one change somewhere.
  cJSON* variant(const cJSON* source) {
    cJSON* copy = cJSON_Duplicate(source, 1);
    if (pick(3) == 0) mutate(copy);
    return copy;
  }

  int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

 private:
  static char* cJSON_strdup_like(const char* text) {
    char* copy = static_cast<char*>(cJSON_malloc(std::strlen(text) + 1));
    std::strcpy(copy, text);
    return copy;
  }

  double number() {
    static const double kNumbers[] = {0.0, -0.0, 1.0, 1.0 + DBL_EPSILON, 2.0, 1e300, 1e300 * (1 + DBL_EPSILON),
                                      INFINITY, -INFINITY};
    return kNumbers[pick(9)];
  }
  const char* text() {
    static const char* kTexts[] = {"", "a", "ab", "b", "#3b4252"};
    return kTexts[pick(5)];
  }

  void mutate(cJSON* root) {
    cJSON* target = root;
    while (target->child != nullptr && pick(3) != 0) {
      cJSON* child = target->child;
      for (int i = pick(3); i > 0 && child->next != nullptr; --i) child = child->next;
      target = child;
    }
    switch (pick(5)) {
      case 0:
        if (cJSON_IsNumber(target)) cJSON_SetNumberValue(target, number());
        break;
      case 1:
        if (cJSON_IsString(target)) cJSON_SetValuestring(target, text());
        break;
      case 2:
        if (cJSON_IsArray(target)) cJSON_AddItemToArray(target, value(1));
        break;
      case 3:
        if (cJSON_IsObject(target)) cJSON_AddItemToObject(target, "x", value(0));
        break;
      default:
        // A leaf that grows a child: the library still calls it equal.
        if (target->child == nullptr && !cJSON_IsArray(target) && !cJSON_IsObject(target)) {
          target->child = cJSON_CreateNumber(1);
        }
        break;
    }
  }

  std::mt19937 random_;
};

using Value = json::JsonPtr;

TEST(CompareValuesTest, AgreesWithTheLibraryAndTheFootprintOnRandomPairs) {
  RandomJson random(20261208);
  int same = 0, different = 0, undecided = 0;
  for (int round = 0; round < 20000; ++round) {
    Value a(random.value(3));
    Value b(random.pick(4) == 0 ? random.value(3) : random.variant(a.get()));
    const bool equal = scene::json_equal(a.get(), b.get());
    switch (compare_values(a.get(), b.get())) {
      case Sameness::same:
        ++same;
        ASSERT_TRUE(equal) << test::print(a.get()) << " vs " << test::print(b.get());
        ASSERT_EQ(scene::json_footprint(a.get()), scene::json_footprint(b.get()))
            << test::print(a.get()) << " vs " << test::print(b.get());
        break;
      case Sameness::different:
        ++different;
        ASSERT_FALSE(equal) << test::print(a.get()) << " vs " << test::print(b.get());
        break;
      case Sameness::undecided: ++undecided; break;
    }
  }
  // Every outcome was met often enough to mean something.
  EXPECT_GT(same, 2000);
  EXPECT_GT(different, 2000);
  EXPECT_GT(undecided, 1000);
}

TEST(CompareValuesTest, SettlesTheCommonCasesWithoutTheLibrary) {
  struct Case {
    const char* a;
    const char* b;
    Sameness expected;
  };
  const Case cases[] = {
      {R"(["text","12:34:56",8,8,"#e5c07b",14,true])", R"(["text","12:34:56",8,8,"#e5c07b",14,true])", Sameness::same},
      {R"(["text","12:34:56",8,8,"#e5c07b",14,true])", R"(["text","12:34:57",8,8,"#e5c07b",14,true])",
       Sameness::different},
      {R"(["rect",[0,0,10,10],"#fff"])", R"(["rect",[0,0,10,10]])", Sameness::different},
      {R"(["rect",[0,0,10,10],"#fff"])", R"(["rect",[0,0,10,11],"#fff"])", Sameness::undecided},
      {R"(["rect",[0,0,10,11],"#fff"])", R"(["rect",[0,0,10,11],"#ffe"])", Sameness::different},
      {R"(["styled_rect",[0,0,1,1],{"fill":"#fff"}])", R"(["styled_rect",[0,0,1,1],{"fill":"#fff"}])",
       Sameness::undecided},
      {R"([true,false,null])", R"([true,false,null])", Sameness::same},
      {R"([true])", R"([false])", Sameness::different},
      {R"([1])", R"(["1"])", Sameness::different},
  };
  for (const Case& c : cases) {
    Value a = parse(c.a), b = parse(c.b);
    EXPECT_EQ(compare_values(a.get(), b.get()), c.expected) << c.a << " vs " << c.b;
  }
}

// Commits a random sequence of lists, each usually a small change of the one
// before, and checks every step against the plain definitions.
TEST(RetainedCopyTest, ChargesAndRetainsEveryListAsAFreshCopyWould) {
  RandomJson random(7);
  RetainedCommands retained;
  RetainedCopy copy;
  Value previous(cJSON_CreateArray());
  for (int round = 0; round < 3000; ++round) {
    Value next(cJSON_CreateArray());
    // Mostly the previous list with a few changes, at times longer or shorter.
    const int length = cJSON_GetArraySize(previous.get()) + random.pick(3) - 1;
    for (int i = 0; i < std::max(length, 0); ++i) {
      const cJSON* before = cJSON_GetArrayItem(previous.get(), i);
      cJSON_AddItemToArray(next.get(), before != nullptr && random.pick(6) != 0 ? random.variant(before)
                                                                                   : random.value(2));
    }
    if (random.pick(50) == 0) retained.clear();  // as after a patch

    ASSERT_TRUE(copy.prepare(retained, next.get()));
    ASSERT_EQ(copy.charge(), scene::json_footprint_as_member(next.get(), "commands")) << round;
    bool all_equal = retained.list != nullptr &&
                     cJSON_GetArraySize(retained.list.get()) == cJSON_GetArraySize(next.get());
    for (int i = 0; all_equal && i < cJSON_GetArraySize(next.get()); ++i) {
      all_equal = scene::json_equal(cJSON_GetArrayItem(retained.list.get(), i), cJSON_GetArrayItem(next.get(), i));
    }
    ASSERT_EQ(copy.unchanged(), all_equal) << round;
    ASSERT_TRUE(copy.copy(next.get()));
    if (random.pick(10) == 0) {
      copy.clear();  // a composition that failed: the retained list stays
    } else {
      copy.assemble(retained);
      // Each retained command is the new one, or equal to it (the library
      // calls no infinity equal, not even to its copy).
      ASSERT_EQ(cJSON_GetArraySize(retained.list.get()), cJSON_GetArraySize(next.get()));
      ASSERT_EQ(retained.footprints.size(), static_cast<std::size_t>(cJSON_GetArraySize(next.get())));
      std::size_t position = 0;
      const cJSON* sent = next->child;
      for (const cJSON* command = retained.list->child; command != nullptr;
           command = command->next, sent = sent->next, ++position) {
        ASSERT_TRUE(scene::json_equal(command, sent) || test::print(command) == test::print(sent)) << round;
        ASSERT_EQ(retained.footprints[position], scene::json_footprint(command)) << round << " at " << position;
      }
    }
    previous = std::move(next);
  }
}

TEST(RetainedCopyTest, MovesEqualCommandsOverAndCopiesOnlyTheChangedOnes) {
  RetainedCommands retained;
  RetainedCopy copy;
  Value first = parse(R"([["text","12:34:56",0,0,"#fff",14,false],["rect",[0,0,8,16],"#fff",0,"",0]])");
  ASSERT_TRUE(copy.prepare(retained, first.get()));
  EXPECT_FALSE(copy.unchanged());
  ASSERT_TRUE(copy.copy(first.get()));
  copy.assemble(retained);
  const cJSON* kept_rect = retained.list->child->next;

  Value second = parse(R"([["text","12:34:57",0,0,"#fff",14,false],["rect",[0,0,8,16],"#fff",0,"",0]])");
  ASSERT_TRUE(copy.prepare(retained, second.get()));
  EXPECT_FALSE(copy.unchanged());
  ASSERT_TRUE(copy.copy(second.get()));
  copy.assemble(retained);
  EXPECT_EQ(retained.list->child->next, kept_rect);
  EXPECT_EQ(test::print(retained.list.get()), test::print(second.get()));

  ASSERT_TRUE(copy.prepare(retained, second.get()));
  EXPECT_TRUE(copy.unchanged());
  EXPECT_EQ(copy.charge(), scene::json_footprint_as_member(second.get(), "commands"));
}

}  // namespace
}  // namespace lumora::terminal
