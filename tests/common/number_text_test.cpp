#include "common/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace roamgrid {
namespace {

// Switches LC_ALL to a decimal-comma locale for one scope, when one is
// installed; the tests below then run a second time under it.
class CommaLocale {
 public:
  CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
      if (std::setlocale(LC_ALL, name)) {
        active_ = true;
        break;
      }
    }
  }
  ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

void ExpectFormats() {
  // The status texts and export names: width, blanks, zeros after the sign.
  EXPECT_EQ(FormatFixed(20 / 400.0, 7, 3), "  0.050");
  EXPECT_EQ(FormatFixed(1280 / 400.0, 7, 3), "  3.200");
  EXPECT_EQ(FormatFixed(14270 / 400.0, 7, 4), "35.6750");
  EXPECT_EQ(FormatFixed(55910 / 400.0, 7, 4), "139.7750");
  EXPECT_EQ(FormatFixed(-14250 / 400.0, 7, 4), "-35.6250");
  EXPECT_EQ(FormatFixed(14260 / 400.0, 7, 3, true), "035.650");
  EXPECT_EQ(FormatFixed(-2200 / 400.0, 7, 3, true), "-05.500");
  EXPECT_EQ(FormatFixed(-3800 / 400.0, 7, 4, true), "-9.5000");
  EXPECT_EQ(FormatFixed(0.0, 7, 4, true), "00.0000");
  EXPECT_EQ(FormatFixed(0.025, 3, 3), "0.025");
  // Rounding of the exact binary value, as printf does: 0.125 is exact and
  // rounds to even, 2.675 is a little below and rounds down.
  EXPECT_EQ(FormatFixed(0.125, 1, 2), "0.12");
  EXPECT_EQ(FormatFixed(2.675, 1, 2), "2.67");
}

void ExpectParses() {
  const char* end = nullptr;
  EXPECT_EQ(ParseLeadingDouble("4807.038,N", &end), 4807.038);
  EXPECT_STREQ(end, ",N");
  EXPECT_EQ(ParseLeadingDouble("  35.675"), 35.675);
  EXPECT_EQ(ParseLeadingDouble("-35.6"), -35.6);
  EXPECT_EQ(ParseLeadingDouble("1e2x"), 100.0);
  EXPECT_EQ(ParseLeadingDouble("12345678901234567890.5"), 12345678901234567890.5);
  EXPECT_EQ(ParseLeadingDouble("35,675"), 35.0);  // a comma ends the number everywhere
  const char* text = "abc";
  EXPECT_EQ(ParseLeadingDouble(text, &end), 0.0);
  EXPECT_EQ(end, text);
  EXPECT_EQ(ParseLeadingDouble(""), 0.0);
  EXPECT_EQ(ParseLeadingDouble(".5"), 0.5);
  EXPECT_EQ(ParseLeadingDouble("0x10"), 16.0);
}

TEST(NumberTextTest, FormatsLikeCPrintf) { ExpectFormats(); }

TEST(NumberTextTest, ParsesLikeCStrtod) { ExpectParses(); }

TEST(NumberTextTest, FastDecimalPathMatchesStrtod) {
  // Every plain decimal of a log field must give the very double strtod gives.
  char text[32];
  unsigned seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const unsigned whole = seed % 100000;
    seed = seed * 1103515245u + 12345u;
    const unsigned fraction = seed % 1000000;
    std::snprintf(text, sizeof text, "%05u.%0*u", whole, int(1 + i % 6), fraction % 1000000);
    EXPECT_EQ(ParseLeadingDouble(text), std::strtod(text, nullptr)) << text;
  }
}

TEST(NumberTextTest, SameResultsUnderDecimalCommaLocale) {
  CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no decimal-comma locale installed";
  ExpectFormats();
  ExpectParses();
}

TEST(NumberTextTest, ParsesInt32LikeScanfOrRejects) {
  EXPECT_EQ(ParseLeadingInt32("14260\r\n"), 14260);
  EXPECT_EQ(ParseLeadingInt32("  -7 rest"), -7);
  EXPECT_EQ(ParseLeadingInt32("+5"), 5);
  EXPECT_EQ(ParseLeadingInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseLeadingInt32("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseLeadingInt32("2147483648"), std::nullopt);
  EXPECT_EQ(ParseLeadingInt32("-2147483649"), std::nullopt);
  EXPECT_EQ(ParseLeadingInt32("99999999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseLeadingInt32(""), std::nullopt);
  EXPECT_EQ(ParseLeadingInt32("abc"), std::nullopt);
  EXPECT_EQ(ParseLeadingInt32("- 5"), std::nullopt);
}

// A typed edge of a region: the whole text is one number or it is none.
TEST(NumberTextTest, TypedNumberIsTheWholeTextOrNothing) {
  const struct {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"35.6", 35.6},
      {" -139.75 ", -139.75},
      {"+5", 5.0},
      {"35,70", 35.7},
      {".5", 0.5},
      {"7.", 7.0},
      {"", std::nullopt},
      {"-", std::nullopt},
      {".", std::nullopt},
      {"35.6 N", std::nullopt},
      {"1e5", std::nullopt},
      {"35.6.7", std::nullopt},
      {"3,5,7", std::nullopt},
      {"35.6,7", std::nullopt},
      {"inf", std::nullopt},
      {"0x10", std::nullopt},
      {"- 5", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseTypedNumber(c.text), c.value);
  }
}

}  // namespace
}  // namespace roamgrid
