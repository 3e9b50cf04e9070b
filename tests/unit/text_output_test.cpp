// How mmdrctl prints the texts the library hands out: JSON in pure ASCII, and the
// terminal form with control characters made visible.
#include <gtest/gtest.h>

#include "text_output.h"

namespace {

TEST(MmdrctlTextOutput, EscapesForJsonAndForTheTerminal) {
  struct Case {
    std::string utf8;
    const char* json;
    std::string display;
  };
  const Case cases[] = {
      {"plain", R"("plain")", "plain"},
      {"say \"hi\" \\ there", R"("say \"hi\" \\ there")", "say \"hi\" \\ there"},
      {"t\tn\nx\x01\x7F", R"("t\tn\nx\u0001\u007f")", "t\\x09n\\x0ax\\x01\\x7f"},
      {"caf\xC3\xA9 \xE2\x82\xAC", R"("caf\u00e9 \u20ac")", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"\xF0\x9F\x98\x80", R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      // Cut by the 259-byte rule, a stray byte, a surrogate encoded in UTF-8.
      {"ab\xE2\x82", R"("ab\ufffd")", "ab\xEF\xBF\xBD"},
      {"\xFF!", R"("\ufffd!")", "\xEF\xBF\xBD!"},
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.utf8), c.json) << c.utf8;
    EXPECT_EQ(DisplayText(c.utf8), c.display) << c.utf8;
  }
}

}  // namespace
