#include "cli/cli_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace roamgrid {
namespace {

using Args = std::vector<std::string>;

TEST(ParseCliArgs, ReadsEveryFormOfTheInterface) {
  {
    const CliParse p = ParseCliArgs(
        {"-C", "store", "-C", "sub", "import", "--any-talker", "a.log", "-", "--", "-b.log"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.args.store.directories, (Args{"store", "sub"}));
    EXPECT_EQ(p.args.command, CliCommand::kImport);
    EXPECT_TRUE(p.args.anyTalker);
    EXPECT_FALSE(p.args.strict);
    EXPECT_EQ(p.args.logs, (Args{"a.log", "-", "-b.log"}));
    EXPECT_TRUE(ParseCliArgs({"import", "--strict", "a.log"}).args.strict);
    // --connect takes its value only after "=": the next argument is a LOG.
    const CliParse joined = ParseCliArgs({"import", "--connect", "300", "--max-speed", "300"});
    ASSERT_TRUE(joined.ok()) << joined.error;
    EXPECT_EQ(joined.args.connectMetres, 250);
    EXPECT_EQ(joined.args.maxSpeedKmh, 300);
    EXPECT_EQ(joined.args.logs, (Args{"300"}));
    EXPECT_EQ(ParseCliArgs({"import", "--connect=100", "--max-speed=90", "a"}).args.connectMetres,
              100);
    EXPECT_EQ(ParseCliArgs({"import", "--max-accuracy=12.5", "a.log"}).args.maxAccuracyM, 12.5);
    EXPECT_EQ(ParseCliArgs({"import", "--max-accuracy", "0", "a.log"}).args.maxAccuracyM, 0.0);
  }
  {
    const CliParse p =
        ParseCliArgs({"export", "--origin", "-14200,+55900", "--zoom=2", "--merge", "out.bmp"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.args.origin, (GridPoint{-14200, 55900}));
    EXPECT_EQ(p.args.zoom, 2);
    EXPECT_EQ(p.args.existing, ExistingFileMode::kMerge);
    EXPECT_EQ(p.args.file, "out.bmp");
    EXPECT_FALSE(p.args.center);
  }
  {
    // The texts stay as typed: the Jump rule reads them itself.
    const CliParse p = ParseCliArgs({"export", "--center=-35.6,1.5e2", "--overwrite"});
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_TRUE(p.args.center);
    EXPECT_EQ(p.args.center->latText, "-35.6");
    EXPECT_EQ(p.args.center->lonText, "1.5e2");
    EXPECT_DOUBLE_EQ(p.args.center->lon, 150.0);
    EXPECT_EQ(p.args.existing, ExistingFileMode::kOverwrite);
    EXPECT_FALSE(p.args.file);
    EXPECT_FALSE(p.args.zoom);
  }
  {
    // Map tiles: --zoom is a range of Web Mercator zooms, or one of them.
    const CliParse p = ParseCliArgs(
        {"export", "--zoom", "3-16", "--tiles", "t.mbtiles", "--color=#00Ff80", "--bbox=1,2,3,4"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.args.tiles, "t.mbtiles");
    EXPECT_EQ(p.args.tileZooms, (std::pair{3, 16}));
    EXPECT_EQ(p.args.color, 0x00ff80u);
    EXPECT_FALSE(p.args.zoom);
    EXPECT_EQ(ParseCliArgs({"export", "--tiles", "d", "--zoom", "2"}).args.tileZooms,
              (std::pair{2, 2}));
    EXPECT_EQ(ParseCliArgs({"export", "--web=d", "--zoom", "22"}).args.tileZooms,
              (std::pair{22, 22}));
  }
  {
    const CliParse p = ParseCliArgs({"stats"});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.args.command, CliCommand::kStats);
  }
}

TEST(ParseCliArgs, HelpAndVersionWinOverTheRest) {
  struct Case {
    Args arguments;
    bool help, version;
    CliCommand command;
  };
  const Case cases[] = {
      {{"--help"}, true, false, CliCommand::kNone},
      {{"-h", "bogus"}, true, false, CliCommand::kNone},
      {{"--version", "--bogus"}, false, true, CliCommand::kNone},
      {{"-C", "x", "export", "--zoom", "9", "--help"}, true, false, CliCommand::kExport},
      {{"import", "-h"}, true, false, CliCommand::kImport},
      {{"stats", "--help"}, true, false, CliCommand::kStats},
  };
  for (const Case& c : cases) {
    const CliParse p = ParseCliArgs(c.arguments);
    EXPECT_TRUE(p.ok()) << c.arguments[0] << ": " << p.error;
    EXPECT_EQ(p.args.help, c.help) << c.arguments[0];
    EXPECT_EQ(p.args.version, c.version) << c.arguments[0];
    EXPECT_EQ(p.args.command, c.command) << c.arguments[0];
  }
  // After "--" a "--help" is a log's name.
  const CliParse p = ParseCliArgs({"import", "--", "--help"});
  ASSERT_TRUE(p.ok());
  EXPECT_FALSE(p.args.help);
  EXPECT_EQ(p.args.logs, (Args{"--help"}));
}

TEST(ParseCliArgs, RefusesBadArgumentsWithALineNamingThem) {
  struct Case {
    Args arguments;
    std::string named;  // part of the error line
  };
  const Case cases[] = {
      {{}, "no command"},
      {{"-C"}, "-C needs a directory"},
      {{"-C", ""}, "-C"},
      {{"--any-talker", "import", "a"}, "'--any-talker'"},
      {{"frobnicate"}, "'frobnicate'"},
      {{"import"}, "at least one LOG"},
      {{"import", "--any-talker"}, "at least one LOG"},
      {{"import", "--any-talker", "--any-talker", "a"}, "given twice"},
      {{"import", "--any-talker=yes", "a"}, "takes no value"},
      {{"import", "--strict", "a", "--strict"}, "--strict given twice"},
      {{"import", "--connect=0", "a"}, "'0' is not METRES"},
      {{"import", "--connect=", "a"}, "'' is not METRES"},
      {{"import", "--connect", "--connect=9", "a"}, "--connect given twice"},
      {{"import", "--max-speed", "fast", "a"}, "'fast' is not KMH"},
      {{"import", "a", "--max-speed"}, "--max-speed needs a value"},
      {{"import", "--max-accuracy", "-1", "a"}, "not a number of metres"},
      {{"import", "--max-accuracy", "5m", "a"}, "not a number of metres"},
      {{"import", "--max-accuracy", "5", "--max-accuracy=6", "a"}, "given twice"},
      {{"import", "-", "a", "-"}, "standard input ('-') can be read only once"},
      {{"import", "--zoom", "1", "a"}, "'--zoom' for import"},
      {{"import", ""}, "empty"},
      {{"export", "--zoom"}, "--zoom needs a value"},
      {{"export", "--zoom", "8"}, "'8'"},
      {{"export", "--zoom", "-1"}, "'-1'"},
      {{"export", "--zoom", "1x"}, "'1x'"},
      {{"export", "--zoom", " 1"}, "' 1'"},
      {{"export", "--zoom=", "a.bmp"}, "''"},
      {{"export", "--zoom", "1", "--zoom", "2"}, "given twice"},
      {{"export", "--origin", "14260"}, "'14260'"},
      {{"export", "--origin", "14260,55900,0"}, "'14260,55900,0'"},
      {{"export", "--origin", "14260.0,55900"}, "'14260.0,55900'"},
      {{"export", "--origin", "14260,"}, "'14260,'"},
      {{"export", "--origin", "99999999999,0"}, "'99999999999,0'"},
      {{"export", "--center", "35.6;139.7"}, "'35.6;139.7'"},
      {{"export", "--center", "35.6,139.7x"}, "'35.6,139.7x'"},
      {{"export", "--center", "35,6,139,7"}, "'35,6,139,7'"},
      {{"export", "--center", "nan,0"}, "'nan,0'"},
      {{"export", "--center", "1e400,0"}, "'1e400,0'"},
      {{"export", "--center", "0,1", "--origin", "0,0"}, "exclude each other"},
      {{"export", "--origin", "0,0", "--center", "0,1"}, "exclude each other"},
      {{"export", "--overwrite", "--merge"}, "exclude each other"},
      {{"export", "--merge", "--merge"}, "given twice"},
      {{"export", "a.bmp", "b.bmp"}, "'b.bmp' is one too many"},
      {{"export", ""}, "FILE is empty"},
      {{"export", "--any-talker"}, "'--any-talker' for export"},
      {{"export", "--zoom", "0-16"}, "'0-16' is not a zoom index"},
      {{"export", "--color", "ff0000"}, "--color needs --tiles"},
      {{"export", "--tiles", "d"}, "--tiles needs --zoom A-B"},
      {{"export", "--tiles", "d", "--zoom", "5-4"}, "'5-4' is not A-B"},
      {{"export", "--tiles", "d", "--zoom", "0-23"}, "'0-23' is not A-B"},
      {{"export", "--tiles", "d", "--zoom", "-1-3"}, "'-1-3' is not A-B"},
      {{"export", "--tiles", "d", "--zoom", "1-"}, "'1-' is not A-B"},
      {{"export", "--tiles", "d", "--zoom", "1", "f.png"}, "takes no FILE"},
      {{"export", "--tiles", "d", "--zoom", "1", "--transparent"}, "excludes"},
      {{"export", "--tiles", "d", "--web", "e"}, "together"},
      {{"export", "--tiles", ""}, "path is empty"},
      {{"export", "--tiles", "d", "--zoom", "1", "--color", "f00"}, "'f00' is not a colour"},
      {{"export", "--tiles", "d", "--zoom", "1", "--color", "+fff00"}, "is not a colour"},
      {{"export", "--tiles", "d", "--zoom", "1", "--bbox", "3,2,1,4"}, "south below north"},
      {{"stats", "RGD"}, "'RGD'"},
      {{"stats", "--zoom", "1"}, "'--zoom' for stats"},
      {{"check", "RGD"}, "'RGD'"},
      {{"check", "--clean", "--clean"}, "given twice"},
  };
  for (const Case& c : cases) {
    const CliParse p = ParseCliArgs(c.arguments);
    std::string shown;
    for (const std::string& a : c.arguments) shown += "[" + a + "]";
    EXPECT_FALSE(p.ok()) << shown;
    EXPECT_NE(p.error.find(c.named), std::string::npos) << shown << " -> " << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << shown;
  }
}

TEST(ParseWholeNumbers, TakeOnlyANumberAndNothingElse) {
  struct IntCase {
    std::string text;
    std::optional<int32_t> value;
  };
  const IntCase ints[] = {
      {"0", 0},
      {"-20", -20},
      {"+20", 20},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", {}},
      {"", {}},
      {"-", {}},
      {"+", {}},
      {"+-1", {}},
      {"--1", {}},
      {" 1", {}},
      {"1 ", {}},
      {"1.0", {}},
      {"0x10", {}},
  };
  for (const IntCase& c : ints) EXPECT_EQ(ParseWholeInt32(c.text), c.value) << "[" << c.text << "]";

  struct DoubleCase {
    std::string text;
    std::optional<double> value;
  };
  const DoubleCase doubles[] = {
      {"35.675", 35.675}, {"-35.6", -35.6}, {"+1", 1.0},    {".5", 0.5},    {"1e2", 100.0},
      {"0", 0.0},         {"", {}},         {" 1", {}},     {"1 ", {}},     {"1,5", {}},
      {"abc", {}},        {"inf", {}},      {"-inf", {}},   {"nan", {}},    {"1e999", {}},
      {"35.6N", {}},      {"0x10", {}},     {"-0x1p3", {}}, {"1e-2", 0.01}, {"1E+1", 10.0},
  };
  for (const DoubleCase& c : doubles)
    EXPECT_EQ(ParseWholeDouble(c.text), c.value) << "[" << c.text << "]";
}

TEST(CliHelpText, EachCommandHasItsOwnUsage) {
  EXPECT_NE(
      CliHelpText(CliCommand::kNone).find("Usage: roamgrid-cli [-C DIR | --user-store] COMMAND"),
      std::string::npos);
  EXPECT_NE(CliHelpText(CliCommand::kImport).find("[--max-accuracy METRES] LOG..."),
            std::string::npos);
  EXPECT_NE(CliHelpText(CliCommand::kExport).find("--origin LAT,LON | --center DLAT,DLON"),
            std::string::npos);
  EXPECT_NE(CliHelpText(CliCommand::kStats).find("6371.0088 km"), std::string::npos);
}

}  // namespace
}  // namespace roamgrid
