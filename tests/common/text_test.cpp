#include "common/text.h"

#include <gtest/gtest.h>

namespace roamgrid {
namespace {

TEST(FlowingText, JoinsTheLinesOfAParagraphAndKeepsParagraphs) {
  EXPECT_EQ(FlowingText("drawn offline from\nGSHHG, the Global\nDatabase."),
            "drawn offline from GSHHG, the Global Database.");
  EXPECT_EQ(FlowingText("one\ntwo\n\nthree\nfour"), "one two\n\nthree four");
  EXPECT_EQ(FlowingText("no break"), "no break");
  EXPECT_EQ(FlowingText(""), "");
  EXPECT_EQ(FlowingText("end\n"), "end ");
}

}  // namespace
}  // namespace roamgrid
