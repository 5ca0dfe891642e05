// The Windows layer's own tests, cross-built and run under Wine. The binary
// doubles as the child that the process tests start: "--child" makes it
// report what it was given and exit without running any test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "tests/platform/windows/self_path.h"

namespace lumora::test {
std::string self_path;
}  // namespace lumora::test

namespace {

// Its arguments on standard output, each followed by '|'; "error" on
// standard error; LUMORA_CHILD_VALUE, when set, as the last argument would
// be; exit code 7. "--child-sleep" sleeps for a minute instead.
int run_child(int argc, char** argv) {
  if (std::strcmp(argv[1], "--child-sleep") == 0) {
    lumora::platform::sleep_seconds(60);
    return 0;
  }
  for (int index = 2; index < argc; ++index) std::printf("%s|", argv[index]);
  if (const char* value = std::getenv("LUMORA_CHILD_VALUE")) std::printf("env=%s|", value);
  std::fputs("error", stderr);
  return 7;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--child", 7) == 0) return run_child(argc, argv);
  lumora::test::self_path = argv[0];
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
