// Hostile scenes on a real window host: each works within the budgets or
// gets its message, and the host's peak memory stays bounded.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/host_fixture.h"
#include "support/png_writer.h"
#include "support/window_fixture.h"

namespace lumora {
namespace {

using test::reply_ok;

constexpr long kMaxPeakKiB = 512 * 1024;

// The process's peak resident set ("VmHWM"), in KiB; -1 when unknown.
long peak_rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(WindowLimitsTest, HostileScenesStayWithinTheBudgets) {
  auto host = test::launch_window_host(R"("width":16384,"height":16384)");
  ASSERT_TRUE(host);
  auto info = host->request(R"({"op":"info"})");
  ASSERT_TRUE(reply_ok(info));
  EXPECT_EQ(test::json_text(test::member(info->result.get(), "pixel_size")), "[1024,768]");

  // One line of 7 MiB: measured and drawn in bounded pieces. (From 8 MiB on
  // its cache key alone passes the text budget, and drawing it fails.)
  const std::string long_line(7 * 1048576, 'W');
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["text",")" + long_line +
                                     R"(",0,0,"#ffffff",14,false]]})")));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"present"})")));

  // 4,096 long texts measured at once.
  std::string texts;
  const std::string text(2000, 'm');
  for (int i = 0; i < 4096; ++i) texts += std::string(i ? "," : "") + "\"" + text + "\"";
  auto measured = host->request(R"({"op":"measure_many","size":14,"texts":[)" + texts + "]}");
  ASSERT_TRUE(reply_ok(measured));
  EXPECT_EQ(cJSON_GetArraySize(measured->result.get()), 4096);

  // A 2048-pixel font, a huge radius and a PNG claiming 65535 × 65535.
  const std::string claim =
      test_support::png_data_uri(test_support::png_header_only(65535, 65535, 8, test_support::kPngRgba));
  ASSERT_TRUE(reply_ok(host->request(R"({"op":"frame","commands":[["text","Big",0,0,"#ffffff",2048,false],)"
                                     R"(["rect",[-500000,-500000,1000000,1000000],"#ff000080",1000000,"#00ff00",3],)"
                                     R"(["image",")" + claim + R"(",[0,0,10,10],"#ffffff","stretch"]]})")));
  EXPECT_TRUE(reply_ok(host->request(R"({"op":"present"})")));

  const long peak = peak_rss_kib(host->process_id());
  ASSERT_GT(peak, 0);
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's shadow memory and quarantine inflate the resident set;
  // the bound is checked in the plain build.
  EXPECT_LT(peak, kMaxPeakKiB) << "peak resident set of the host in KiB";
#endif
}

}  // namespace
}  // namespace lumora
