#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, WideToAnsiKeepsLatin1AndMarksTheRest) {
  const struct {
    std::u16string wide;
    std::string ansi;
  } cases[] = {
      {u"", ""},
      {u"Kestrova 871", "Kestrova 871"},
      {u"Caf\u00e9 \u00ff", "Caf\xe9 \xff"},
      {u"\u0409", "?"},                  // a language id read as text
      {u"A\u20acB", "A?B"},              // outside Latin-1
      {u"x\U0001F600y", "x?y"},          // a surrogate pair is one character
      {u"\xd800z", "?z"},                // a lone surrogate
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::WideToAnsi(c.wide), c.ansi);
  EXPECT_EQ(platform::WideToAnsi(nullptr, 4), "");
  EXPECT_EQ(platform::WideToAnsi(u"abcdef", 3), "abc");
  EXPECT_EQ(platform::AnsiToWide("Caf\xe9"), u"Caf\u00e9");
}

}  // namespace
