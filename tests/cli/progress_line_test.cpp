#include "cli/progress_line.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace roamgrid {
namespace {

TEST(ProgressText, ShowsBytesOfTotalAndRate) {
  struct Case {
    long long done, total;
    double seconds;
    const char* text;
  };
  const Case cases[] = {
      {0, 200'000'000, 0.0, "import: 0.0 of 200.0 MB (0%)"},
      {12'345'678, 200'000'000, 0.5, "import: 12.3 of 200.0 MB (6%), 24.7 MB/s"},
      {200'000'000, 200'000'000, 2.0, "import: 200.0 of 200.0 MB (100%), 100.0 MB/s"},
      {1'500'000, 0, 1.0, "import: 1.5 MB, 1.5 MB/s"},  // total unknown
  };
  for (const Case& c : cases) EXPECT_EQ(ProgressText(c.done, c.total, c.seconds), c.text);
}

TEST(ProgressLine, DrawsAndErasesOnlyWhenEnabled) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  ASSERT_NE(stream, nullptr);
  {
    ProgressLine off(stream, 100, false);
    off.Show(50);
    off.Erase();
  }
  std::fflush(stream);
  EXPECT_EQ(size, 0u);
  {
    ProgressLine on(stream, 1'000'000, true);
    on.Show(500'000);
    on.Erase();
    on.Erase();  // nothing shown: nothing to erase
  }
  std::fclose(stream);
  const std::string shown(text, size);
  std::free(text);
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown.rfind("\rimport: 0.5 of 1.0 MB (50%)", 0), 0u) << shown;
  // Erasing blanks the whole line and returns to its start.
  const size_t drawn = shown.find('\r', 1);
  ASSERT_NE(drawn, std::string::npos);
  const std::string erase = shown.substr(drawn);
  EXPECT_EQ(erase, "\r" + std::string(drawn - 1, ' ') + "\r");
}

TEST(ProgressLine, FitsANarrowTerminal) {
  int master = -1, slave = -1;
  winsize size{};
  size.ws_col = 20;
  size.ws_row = 10;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
  std::FILE* stream = fdopen(slave, "w");
  ASSERT_NE(stream, nullptr);
  {
    ProgressLine line(stream, 200'000'000, true);
    line.Show(12'345'678);
  }
  std::fclose(stream);
  // One read may return only part of what was written; once the terminal
  // side is closed and all is read, the read fails.
  std::string shown;
  char buffer[256];
  for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
    shown.append(buffer, size_t(got));
  close(master);
  // Drawn in 19 columns, then erased: no line wraps.
  EXPECT_EQ(shown, "\rimport: 12.3 of 200\r" + std::string(19, ' ') + "\r");
}

}  // namespace
}  // namespace roamgrid
