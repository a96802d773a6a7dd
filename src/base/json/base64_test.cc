#include "base/json/base64.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::utils {
namespace {

TEST(Base64Test, Rfc4648Vectors) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"abc", "YWJj"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Base64Encode(c.bytes), c.text);
    EXPECT_EQ(Base64Decode(c.text), c.bytes);
  }
}

TEST(Base64Test, BinaryRoundTrip) {
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes.push_back(static_cast<char>(i));
  bytes.append(std::string(5, '\0'));
  const std::string text = Base64Encode(
      reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
  EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "abcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  EXPECT_EQ(Base64Decode(text.data(), text.size()), bytes);
}

// The table encoder must write exactly Mbed TLS's text, for every length
// (all three padding cases, many times over) and all byte values, whole and
// piece by piece as a stream encodes a file.
TEST(Base64Test, TableEncoderMatchesMbedTls) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> bytes;
  for (size_t size = 0; size <= 4100; ++size) {
    SCOPED_TRACE(size);
    bytes.resize(size);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(byte(random));
    const std::string expected = Base64Encode(bytes.data(), bytes.size());
    ASSERT_EQ(expected.size(), Base64EncodedSize(size));

    std::string whole(Base64EncodedSize(size) + 1, '#');
    ASSERT_EQ(Base64EncodeTo(bytes.data(), size, whole.data()),
              expected.size());
    EXPECT_EQ(whole.back(), '#') << "wrote past the text";
    whole.pop_back();
    ASSERT_EQ(whole, expected);

    std::string pieces;
    for (size_t offset = 0; offset < size; offset += 3 * 7) {
      const size_t count = std::min<size_t>(3 * 7, size - offset);
      char out[4 * 7];
      pieces.append(out, Base64EncodeTo(bytes.data() + offset, count, out));
    }
    ASSERT_EQ(pieces, expected);
  }
}

TEST(Base64Test, DecodeErrorsGiveEmpty) {
  const std::vector<std::string> texts = {
      "Zm9v!",         // character outside the alphabet
      "Zm9v-_",        // URL-safe alphabet
      "Zm 9v",         // space inside a line
      " Zm9v",         // space before a line
      "Zg==Zm8=",      // '=' in the middle
      "Zm9v====",      // too much padding
      "Zm9",           // cut short
      "Zm9vY",         // one character beyond whole groups
      "Zg",            // missing padding
      "Zm9v=",         // padding after a whole group
      "Zm9v\xC3\xA9",  // non-ASCII
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Base64Decode(text), "");
  }
}

TEST(Base64Test, DecodeAcceptsLineBreaksBetweenGroups) {
  const std::vector<std::string> texts = {"Zm9v\nYmFy", "Zm9v\r\nYmFy",
                                          "Zm9vYmFy\n"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Base64Decode(text), "foobar");
  }
}

}  // namespace
}  // namespace base::utils
