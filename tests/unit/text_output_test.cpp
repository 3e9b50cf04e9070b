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
      // Cut by the 259-byte rule, a stray byte.
      {"ab\xE2\x82", R"("ab\ufffd")", "ab\xEF\xBF\xBD"},
      {"\xFF!", R"("\ufffd!")", "\xEF\xBF\xBD!"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.utf8), c.json) << c.utf8;
    EXPECT_EQ(DisplayText(c.utf8), c.display) << c.utf8;
  }
  // Overlong forms (leads C0, C1; E0, F0 too low), a surrogate, U+110000 and a lead past F4:
  // each byte becomes one U+FFFD.
  const std::string illFormed =
      "\xC0\x80\xC1\xBF\xE0\x9F\xBF\xF0\x8F\xBF\xBF\xED\xA0\x80\xF4\x90\x80\x80\xF5\x80\x80\x80";
  std::string json = "\"";
  for (std::size_t i = 0; i < illFormed.size(); ++i) json += "\\ufffd";
  EXPECT_EQ(JsonString(illFormed), json + '"');
}

}  // namespace
