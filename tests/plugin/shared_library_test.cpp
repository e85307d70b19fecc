// The built vis_orlim.so, loaded as a host loads it: through LoadLibraryA and the one
// exported function, with its own copy of the plug-in's state. Every module must get
// through init, a few frames and quit, and leave its section in the settings file.
#include <gtest/gtest.h>

#include <string>

#include "test_host.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

TEST(SharedLibraryTest, EveryModuleRunsInitRenderQuit) {
  TestHost host;
  HMODULE library = LoadLibraryA(VIS_PLUGIN_SO);
  ASSERT_NE(library, nullptr) << VIS_PLUGIN_SO;
  typedef VisHeader* (*GetHeader)(void);
  const GetHeader getHeader =
      reinterpret_cast<GetHeader>(GetProcAddress(library, "winampVisGetHeader"));
  ASSERT_NE(getHeader, nullptr);
  VisHeader* header = getHeader();
  EXPECT_EQ(header->version, 0x101);
  EXPECT_EQ(header->lookupModule(4), nullptr);

  const int windowsBefore = visLiveWindowCount();
  const int bitmapsBefore = visLiveObjectCount(OBJ_BITMAP);
  const char* names[] = {"Zarvenn", "Pellox", "Ambrith", "Tovanel"};
  for (int i = 0; i < 4; ++i) {
    VisModule* module = header->lookupModule(i);
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(module->description, names[i]);
    host.attach(module, library);
    host.clearEvents();
    ASSERT_EQ(module->init(module), 0) << names[i];
    char title[32];
    GetWindowTextA(host.frame(), title, sizeof title);
    EXPECT_STREQ(title, names[i]);
    ASSERT_TRUE(IsWindow(host.visWindow()));
    EXPECT_EQ(GetParent(host.visWindow()), host.frame());

    module->channels = 2;
    for (int frame = 0; frame < 5; ++frame) {
      for (int band = 0; band < VIS_SPECTRUM_BANDS; ++band) {
        module->spectrum[0][band] = static_cast<unsigned char>((band * 7 + frame * 13) & 0xff);
        module->spectrum[1][band] = static_cast<unsigned char>((band * 3 + frame * 29) & 0xff);
      }
      module->render(module);
      host.pump();
    }
    module->quit(module);
    host.pump();
    EXPECT_EQ(visLiveWindowCount(), windowsBefore) << names[i];
    EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), bitmapsBefore) << names[i];
    const std::string settings = host.readSettings();
    EXPECT_NE(settings.find(std::string("[") + names[i] + "]\r\nScreen_x=50\r\nScreen_y=50\r\n"),
              std::string::npos)
        << settings;
    bool sawQuit = false;
    for (const HostEvent& e : host.events) sawQuit = sawQuit || e.kind == HostEvent::kQuit;
    EXPECT_TRUE(sawQuit) << names[i];
  }
  EXPECT_TRUE(FreeLibrary(library));
}

}  // namespace
