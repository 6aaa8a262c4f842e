#include "view/pasted_position.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace roamgrid {
namespace {

struct PasteCase {
  const char* text;
  std::optional<PastedPosition> split;
};

TEST(SplitPastedPosition, TakesTwoNumbersAfterACommaWithSpaceOrATab) {
  const PasteCase cases[] = {
      {"52.849945, 5.313161", PastedPosition{"52.849945", "5.313161"}},
      {"52.849945,  5.313161", PastedPosition{"52.849945", "5.313161"}},
      {"52.849945\t5.313161", PastedPosition{"52.849945", "5.313161"}},
      {"52.849945 ,\t5.313161", PastedPosition{"52.849945", "5.313161"}},
      {"  -33.9249, -70.6693\n", PastedPosition{"-33.9249", "-70.6693"}},
      {"+35.6, 139", PastedPosition{"+35.6", "139"}},
      // Decimal commas in both halves: the separator is the spaced comma.
      {"52,849945, 5,313161", PastedPosition{"52,849945", "5,313161"}},
      {"52,849945\t5,313161", PastedPosition{"52,849945", "5,313161"}},
      // One number, with a decimal comma or point: nothing to split.
      {"52,849945", std::nullopt},
      {"52.849945,5.313161", std::nullopt},
      {"52.849945 5.313161", std::nullopt},
      {"35.6750", std::nullopt},
      // Not two numbers.
      {"52.8, 5.3, 7.1", std::nullopt},
      {"52.8\t5.3\t7.1", std::nullopt},
      {"52.8, ", std::nullopt},
      {", 5.3", std::nullopt},
      {"52.8 N, 5.3 E", std::nullopt},
      {"1e5, 2", std::nullopt},
      {"52.8.1, 5.3", std::nullopt},
      {"Amsterdam, NL", std::nullopt},
      {"", std::nullopt},
  };
  for (const PasteCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SplitPastedPosition(c.text), c.split);
  }
}

}  // namespace
}  // namespace roamgrid
