// How mmdrctl prints the texts the library hands out: JSON in pure ASCII, and the
// terminal form with control characters made visible.
#include <gtest/gtest.h>

#include "text_output.h"

namespace {

// Which bytes make one U+FFFD (each maximal ill-formed subsequence); the rest of the
// printing's rules are fuzz properties (tests/fuzz/mmdrctl_output_fuzz.cpp).
TEST(MmdrctlTextOutput, EachIllFormedSequenceIsOneReplacementCharacter) {
  // Overlong forms (leads C0, C1; E0, F0 too low), a surrogate, U+110000 and a lead past F4:
  // each byte becomes one U+FFFD.
  const std::string illFormed =
      "\xC0\x80\xC1\xBF\xE0\x9F\xBF\xF0\x8F\xBF\xBF\xED\xA0\x80\xF4\x90\x80\x80\xF5\x80\x80\x80";
  std::string json = "\"";
  for (std::size_t i = 0; i < illFormed.size(); ++i) json += "\\ufffd";
  EXPECT_EQ(JsonString(illFormed), json + '"');
  EXPECT_EQ(JsonString("ab\xE2\x82"), R"("ab\ufffd")");  // a cut character: one in all
}

}  // namespace
