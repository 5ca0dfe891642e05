#pragma once

#include <string>

namespace lumora::test {
// The test binary's own path, for the tests that start it as a child.
extern std::string self_path;
}  // namespace lumora::test
