// The settings file's path beside the library, and the rules for reading it.
#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <string>

#include "plugin/lifecycle.h"
#include "state/vis_state.h"
#include "visplatform.h"

namespace {

struct ModuleNameGuard {
  explicit ModuleNameGuard(const std::string& path) { visSetModuleFileNameOverride(path.c_str()); }
  ~ModuleNameGuard() { visSetModuleFileNameOverride(nullptr); }
};

TEST(SettingsTest, PathIsTheLibrarysDirectoryAndPluginIni) {
  // Directory parts that fill the buffer exactly: 249 characters with the separator
  // leave room for the 10 of "plugin.ini" and the terminator; 250 do not.
  const std::string fits = "/" + std::string(247, 'd') + "/";
  const std::string tooLong = "/" + std::string(248, 'd') + "/";
  struct Case {
    std::string library;
    bool usable;
    std::string settings;
    const char* note;
  };
  const Case cases[] = {
      {"/opt/winamp/plugins/vis_orlim.so", true, "/opt/winamp/plugins/plugin.ini", "slashes"},
      {"C:\\Program Files\\Winamp\\Plugins\\vis_orlim.dll", true,
       "C:\\Program Files\\Winamp\\Plugins\\plugin.ini", "backslashes"},
      {"C:\\Winamp/Plugins\\x/vis.dll", true, "C:\\Winamp/Plugins\\x/plugin.ini",
       "mixed: the last separator of either kind"},
      {"C:/Winamp\\vis.dll", true, "C:/Winamp\\plugin.ini", "mixed, backslash last"},
      {"vis_orlim.dll", true, "plugin.ini", "no separator: a relative name"},
      {"/vis.so", true, "/plugin.ini", "root directory"},
      {fits + "v.so", true, fits + "plugin.ini", "directory of 249 characters"},
      {tooLong + "v.so", false, "", "directory of 250 characters: skipped"},
      {"/" + std::string(300, 'x'), false, "", "name cut short by MAX_PATH: skipped"},
      {"", false, "", "no name at all: skipped"},
  };
  VisModule module = {};
  module.description = "Tovanel";
  for (const Case& c : cases) {
    ModuleNameGuard guard(c.library);
    char path[MAX_PATH];
    memset(path, 'Z', sizeof path);
    EXPECT_EQ(settingsPath(&module, path, sizeof path), c.usable) << c.note;
    if (c.usable) {
      EXPECT_EQ(std::string(path), c.settings) << c.note;
    }
  }
}

TEST(SettingsTest, AnUnusablePathLeavesThePositionAndWritesNothing) {
  resetVisStateForTests();
  VisModule module = {};
  module.description = "Ambrith";
  ModuleNameGuard guard("/" + std::string(248, 'd') + "/v.so");
  visState.framePosX = 11;
  visState.framePosY = 12;
  loadSettings(&module);
  EXPECT_EQ(visState.framePosX, 11);
  EXPECT_EQ(visState.framePosY, 12);
  saveSettings(&module);  // must not write into some other directory
  EXPECT_NE(access("plugin.ini", F_OK), 0);
}

TEST(SettingsTest, LoadAndSaveRoundTrip) {
  char pattern[] = "/tmp/settings-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  ModuleNameGuard guard(dir + "/vis_orlim.so");
  resetVisStateForTests();
  VisModule zarvenn = {}, pellox = {};
  zarvenn.description = "Zarvenn";
  pellox.description = "Pellox";
  visState.framePosX = -1920;
  visState.framePosY = 2147483647;
  saveSettings(&zarvenn);
  visState.framePosX = 3;
  visState.framePosY = 4;
  saveSettings(&pellox);
  visState.framePosX = visState.framePosY = 0;
  loadSettings(&zarvenn);
  EXPECT_EQ(visState.framePosX, -1920);
  EXPECT_EQ(visState.framePosY, 2147483647);
  loadSettings(&pellox);
  EXPECT_EQ(visState.framePosX, 3);
  EXPECT_EQ(visState.framePosY, 4);
  unlink((dir + "/plugin.ini").c_str());
  rmdir(dir.c_str());
}

}  // namespace
