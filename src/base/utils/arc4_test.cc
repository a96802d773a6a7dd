#include "base/utils/arc4.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::utils {
namespace {

// The key that scrambles telemetry bodies and queued events.
constexpr std::string_view kTelemetryKey = "Wk5$tr9Lq2Zv!Hn7Pc3Xm8&Rb4Jd6#Ys";

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(
        std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

TEST(Arc4Test, KnownVectors) {
  struct Case {
    std::string key;
    std::string data;
    std::string expected_hex;
  };
  const std::vector<Case> cases = {
      {"Key", "Plaintext", "BBF316E8D940AF0AD3"},
      {"Wiki", "pedia", "1021BF0420"},
      {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"},
      // RFC 6229, 256-bit key 0x0102..20: the keystream at offsets 0 and 16.
      {FromHex("0102030405060708090a0b0c0d0e0f10"
               "1112131415161718191a1b1c1d1e1f20"),
       std::string(32, '\0'),
       "eaa6bd25880bf93d3f5d1e4ca2611d91cfa45c9f7e714b54bdfa80027cb14380"},
      // Computed with OpenSSL's RC4 and a separate Python implementation.
      {std::string(kTelemetryKey),
       R"([{"event":"CrashReport","component":"crash_plugin"}])",
       "f07afd1da89d54b910a482af0562ec97ef858d40c7cd77e8a407b47d30a6cd5a"
       "f889590d21b06d2e72efe4ef266fd2e55aeb09b8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    EXPECT_EQ(Arc4Crypt(c.data, c.key), FromHex(c.expected_hex));
  }
}

TEST(Arc4Test, RoundTripKeepsEveryByte) {
  std::string data;
  for (int i = 0; i < 600; ++i) {
    data.push_back(static_cast<char>(i % 7 == 0 ? 0 : i & 0xFF));
  }
  const std::string scrambled = Arc4Crypt(data, kTelemetryKey);
  ASSERT_EQ(scrambled.size(), data.size());
  EXPECT_NE(scrambled, data);
  EXPECT_EQ(Arc4Crypt(scrambled, kTelemetryKey), data);
}

TEST(Arc4Test, EmptyInputsYieldNothing) {
  EXPECT_EQ(Arc4Crypt("", kTelemetryKey), "");
  EXPECT_EQ(Arc4Crypt("text", ""), "");
  EXPECT_EQ(Arc4Crypt("text", std::string_view()), "");
}

}  // namespace
}  // namespace base::utils
