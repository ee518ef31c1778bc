#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "text/text.h"

namespace timesync {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(TextBefore, StartChoosesDirection) {
  EXPECT_EQ(TextBefore("k=v=w", "="), Text("k"));
  EXPECT_EQ(TextBefore("k=v=w", "=", 3), Text("k=v"));
  EXPECT_EQ(TextBefore("k=v=w", "=", 1), Text("k"));
  EXPECT_EQ(TextBefore("k=v=w", "=", -1), Text("k=v"));
  EXPECT_EQ(TextBefore("k=v=w", "=", -2), Text("k"));  // the last two bytes are left out
  EXPECT_EQ(TextBefore("k=v=w", "=", -3), Text("k"));
  EXPECT_EQ(TextBefore("k=v=w", "=", -4), Text());
  EXPECT_EQ(TextBefore("k=v=w", "=", kMin), Text());
  EXPECT_EQ(TextBefore("k=v=w", "=", kMax), Text());
  EXPECT_EQ(TextBefore("abc", "a"), Text());
  EXPECT_EQ(TextBefore("abc", "x"), Text());
  EXPECT_EQ(TextBefore("", "="), Text());
  EXPECT_EQ(TextBefore("Set-Cookie: a=b; path=/", ": "), Text("Set-Cookie"));
  EXPECT_EQ(TextBefore("K=v", "k", 0, true), Text());
  EXPECT_EQ(TextBefore("aXbxc", "x", 0, true), Text("a"));
  EXPECT_EQ(TextBefore("aXbxc", "x", -1, true), Text("aXb"));
  // The search walks by characters: 81 3D is one character, not "=".
  EXPECT_EQ(TextBefore("\x81=a=b", "="), Text("\x81=a"));
}

TEST(TextAfter, StartChoosesDirection) {
  EXPECT_EQ(TextAfter("k=v=w", "="), Text("w"));
  EXPECT_EQ(TextAfter("k=v=w", "=", -1), Text("v=w"));
  EXPECT_EQ(TextAfter("k=v=w", "=", -3), Text("w"));
  EXPECT_EQ(TextAfter("k=v=w", "=", -5), Text());
  EXPECT_EQ(TextAfter("k=v=w", "=", 2), Text("v=w"));  // the last two bytes are left out
  EXPECT_EQ(TextAfter("k=v=w", "=", 3), Text("v=w"));
  EXPECT_EQ(TextAfter("k=v=w", "=", 4), Text());
  EXPECT_EQ(TextAfter("k=v=w", "=", 5), Text());  // a start of the length or more finds nothing
  EXPECT_EQ(TextAfter("k=v=w", "=", kMax), Text());
  EXPECT_EQ(TextAfter("k=v=w", "=", kMin), Text());
  EXPECT_EQ(TextAfter("a=", "="), Text());
  EXPECT_EQ(TextAfter("abc", "x"), Text());
  EXPECT_EQ(TextAfter("a: b: c", ": "), Text("c"));
  EXPECT_EQ(TextAfter("aXbxc", "x", 0, true), Text("c"));
  EXPECT_EQ(TextAfter("a=b\x81=", "="), Text("b\x81="));
}

TEST(GetHeaderValue, FirstLineStartingWithTheNameDecides) {
  const Text block("Host: x\r\nConnection: keep-alive\r\n");
  EXPECT_EQ(GetHeaderValue(block, "Connection"), Text("keep-alive"));
  EXPECT_EQ(GetHeaderValue(block, "Host"), Text("x"));
  EXPECT_EQ(GetHeaderValue("Host: x\r\nconnection: keep-alive\r\n", "Connection"), Text());
  EXPECT_EQ(GetHeaderValue("Host: x\r\nConnection:keep-alive\r\n", "Connection"), Text());
  EXPECT_EQ(GetHeaderValue("Connection-Extra: 1\r\nConnection: close\r\n", "Connection"), Text());
  EXPECT_EQ(GetHeaderValue("Connection: a Connection: b", "Connection"), Text("b"));
  EXPECT_EQ(GetHeaderValue("Connection:  close  \r\n", "Connection"), Text(" close  "));
  EXPECT_EQ(GetHeaderValue("A: 1\r\n\r\nB: 2", "B"), Text("2"));
  EXPECT_EQ(GetHeaderValue("X-A: 1: 2\r\nB: 3", ""), Text("2"));  // an empty name: the first line
  EXPECT_EQ(GetHeaderValue("", "Connection"), Text());
  EXPECT_EQ(GetHeaderValue(block, "Accept"), Text());
  EXPECT_EQ(GetHeaderValue("Connection\r\nConnection: close", "Connection"), Text());
}

}  // namespace
}  // namespace timesync
