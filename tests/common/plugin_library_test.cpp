// The plugin loader: where plugins are looked for, and the one sentence
// that says why a plugin cannot serve (not installed, no entry, a table of
// another number or size).
#include "common/plugin_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/zip_library.h"

namespace roamgrid {
namespace {

struct SmallTable {
  uint32_t abi;
  uint32_t size;
};

TEST(PluginLibraryTest, LooksBesideTheProgramThenInTheInstalledFolder) {
  const std::vector<std::string> candidates = PluginCandidates("libroamgrid-nothing.so");
  ASSERT_EQ(candidates.size(), 2u);
  for (const std::string& path : candidates) {
    EXPECT_TRUE(path.starts_with("/")) << path;  // never the working directory
    EXPECT_TRUE(path.ends_with("/roamgrid/libroamgrid-nothing.so")) << path;
    EXPECT_EQ(path.find("/../"), std::string::npos) << path;
  }
  EXPECT_FALSE(PluginLoaded("libroamgrid-nothing.so"));
}

TEST(PluginLibraryTest, SaysWhyAPluginCannotServe) {
  const std::vector<std::string> candidates = PluginCandidates("libroamgrid-nothing.so");
  LoadedPlugin<SmallTable> missing =
      LoadPlugin<SmallTable>("libroamgrid-nothing.so", "entry", 1, "the nothing plugin");
  EXPECT_EQ(missing.table, nullptr);
  EXPECT_EQ(missing.error,
            "the nothing plugin libroamgrid-nothing.so is not installed (looked for " +
                candidates[0] + ", " + candidates[1] + ")");

  // A real plugin (kept loaded, so that refusing it never unloads it)
  // without the entry asked for, with a table of another number, or one
  // smaller than the core's, is of another version.
  std::string error;
  const RoamgridZipPlugin* zip = ZipLibrary(&error);
  ASSERT_NE(zip, nullptr) << error;
  const std::string path = PluginCandidates("libroamgrid-zip.so").front();
  const std::string foreign = "the test plugin " + path + " belongs to another version of Roamgrid";
  struct LargerTable {
    uint32_t abi;
    uint32_t size;
    char more[sizeof(RoamgridZipPlugin)];
  };
  const LoadedPlugin<SmallTable> noEntry =
      LoadPlugin<SmallTable>("libroamgrid-zip.so", "no_such_entry", 1, "the test plugin");
  const LoadedPlugin<RoamgridZipPlugin> otherNumber =
      LoadPlugin<RoamgridZipPlugin>("libroamgrid-zip.so", ROAMGRID_ZIP_PLUGIN_SYMBOL,
                                    ROAMGRID_ZIP_PLUGIN_ABI + 1, "the test plugin");
  const LoadedPlugin<LargerTable> smaller = LoadPlugin<LargerTable>(
      "libroamgrid-zip.so", ROAMGRID_ZIP_PLUGIN_SYMBOL, ROAMGRID_ZIP_PLUGIN_ABI, "the test plugin");
  for (const std::string& refused : {noEntry.error, otherNumber.error, smaller.error}) {
    EXPECT_EQ(refused, foreign);
  }
  EXPECT_EQ(noEntry.table, nullptr);
  EXPECT_EQ(otherNumber.table, nullptr);
  EXPECT_EQ(smaller.table, nullptr);
  // The sound table is the one already loaded.
  const LoadedPlugin<RoamgridZipPlugin> again = LoadPlugin<RoamgridZipPlugin>(
      "libroamgrid-zip.so", ROAMGRID_ZIP_PLUGIN_SYMBOL, ROAMGRID_ZIP_PLUGIN_ABI, "the test plugin");
  EXPECT_EQ(again.table, zip);
  EXPECT_TRUE(ZipPluginLoaded());
}

}  // namespace
}  // namespace roamgrid
