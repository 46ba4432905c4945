#include <gtest/gtest.h>

#include "text/printable.h"

namespace brenvik::text {
namespace {

TEST(Printable, EscapesWhatCouldSteerATerminal) {
  const struct {
    std::string in, shown;
  } cases[] = {
      {"0123ABCD", "0123ABCD"},
      {"ser\x1b]0;owned\x07ial", "ser\\x1B]0;owned\\x07ial"},  // a window title and a bell
      {"a\rb\nc\td\x7f", "a\\x0Db\\x0Ac\\x09d\\x7F"},
      {"\xc2\x9b" "31m", "\\u009B31m"},               // the one-character CSI
      {"/srv/fw/\xff\xfe.img", "/srv/fw/\\xFF\\xFE.img"},  // no UTF-8
      {"\xc0\xaf", "\\xC0\\xAF"},                        // an overlong '/'
      {"\xe5\x8d\x87\xe7\xba\xa7 ok", "\xe5\x8d\x87\xe7\xba\xa7 ok"},  // Chinese stays
      {"\xe5\x8d", "\\xE5\\x8D"},                        // cut inside a character
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c.in), c.shown) << c.in;
}

}  // namespace
}  // namespace brenvik::text
