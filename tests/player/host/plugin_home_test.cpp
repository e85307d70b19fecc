// Where the plug-in's settings go when orlimvis hosts it: beside a plug-in in a folder
// the user may write, else (and always for an installed copy) under XDG_CONFIG_HOME.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "test_support.h"
#include "host/plugin_home.h"
#include "visplatform.h"  // GetModuleFileNameA and its override

namespace {
// Sets or clears an environment variable for one scope.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    if (old) old_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvironmentVariable() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};
}  // namespace

TEST(PluginHome, SettingsFolderFollowsTheInstallAndXdg) {
  ScratchDir dir;
  const PluginLocation copy{dir.file("vis_orlim.so"), false};
  const PluginLocation installed{dir.file("lib/orlimvis/vis_orlim.so"), true};
  // plug-in, XDG_CONFIG_HOME, HOME, the folder expected ("" = beside the plug-in)
  const struct { PluginLocation plugin; const char* xdg; const char* home; std::string expected; const char* note; } cases[] = {
      {copy, "/cfg", "/home/u", "", "a copy in a writable folder keeps the plug-in's own rule"},
      {installed, "/cfg", "/home/u", "/cfg/orlimvis", "installed: per user, under XDG_CONFIG_HOME"},
      {installed, nullptr, "/home/u", "/home/u/.config/orlimvis", "no XDG_CONFIG_HOME: ~/.config"},
      {installed, "", "/home/u", "/home/u/.config/orlimvis", "an empty one counts as unset"},
      {installed, "cfg", "/home/u", "/home/u/.config/orlimvis", "a relative one is ignored"},
      {installed, nullptr, nullptr, "", "nowhere to go: the plug-in's rule"},
  };
  for (const auto& c : cases) {
    EnvironmentVariable xdg("XDG_CONFIG_HOME", c.xdg), home("HOME", c.home);
    EXPECT_EQ(settingsFolderFor(c.plugin), c.expected) << c.note;
  }
  // The folder is made (with its parents) and the plug-in is pointed into it.
  EnvironmentVariable xdg("XDG_CONFIG_HOME", dir.file("config/deep").c_str());
  EXPECT_EQ(redirectPluginSettings(installed), dir.file("config/deep/orlimvis"));
  EXPECT_TRUE(fileExists(dir.file("config/deep/orlimvis")));
  char name[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
  EXPECT_EQ(std::string(name), dir.file("config/deep/orlimvis/vis_orlim.so"));
  visSetModuleFileNameOverride(nullptr);
}
