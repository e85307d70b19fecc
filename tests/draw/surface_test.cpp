// The drawing surface's life and the object discipline of its slots.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "state/vis_state.h"
#include "visplatform.h"

namespace {

struct Counts {
  int pens, brushes, bitmaps, memoryDcs, windowDcs;
  static Counts now() {
    return {visLiveObjectCount(OBJ_PEN), visLiveObjectCount(OBJ_BRUSH),
            visLiveObjectCount(OBJ_BITMAP), visLiveObjectCount(OBJ_MEMDC),
            visLiveObjectCount(OBJ_DC)};
  }
};

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetVisStateForTests();
    before = Counts::now();
  }
  void TearDown() override { releaseSurface(); }
  Counts before;
};

TEST_F(SurfaceTest, ReleaseLeavesNothingAlive) {
  buildSurface(64, 48);
  const Counts built = Counts::now();
  EXPECT_EQ(built.bitmaps, before.bitmaps + 1);
  EXPECT_EQ(built.memoryDcs, before.memoryDcs + 1);
  EXPECT_EQ(built.windowDcs, before.windowDcs);  // the window's DC went back at once

  releaseSurface();
  const Counts after = Counts::now();
  EXPECT_EQ(after.pens, before.pens);
  EXPECT_EQ(after.brushes, before.brushes);
  EXPECT_EQ(after.bitmaps, before.bitmaps);
  EXPECT_EQ(after.memoryDcs, before.memoryDcs);
  EXPECT_EQ(after.windowDcs, before.windowDcs);
  EXPECT_EQ(drawSurface.dc, nullptr);
}

TEST_F(SurfaceTest, RebuildingKeepsOneSurfaceOfTheLastSize) {
  buildSurface(640, 480);
  buildSurface(800, 600);
  buildSurface(320, 200);
  EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), before.bitmaps + 1);
  EXPECT_EQ(visLiveObjectCount(OBJ_MEMDC), before.memoryDcs + 1);
  VisPixels pixels;
  ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &pixels));
  EXPECT_EQ(pixels.width, 320);
  EXPECT_EQ(pixels.height, 200);
  EXPECT_EQ(GetObjectType(drawSurface.dc), static_cast<DWORD>(OBJ_MEMDC));
}

TEST_F(SurfaceTest, SlotsFreeTheirObjectsEvenWhileSelected) {
  buildSurface(16, 16);
  // The order of a render: the objects are deleted while still selected.
  HBRUSH back = newBackBrush(RGB(0, 0, 50));
  selectNewPen(3, RGB(1, 2, 3));
  selectNewFillBrush(RGB(4, 5, 6));
  HGDIOBJ pen = drawSurface.pen, fill = drawSurface.fillBrush;
  EXPECT_EQ(visLiveObjectCount(OBJ_PEN), before.pens + 1);
  EXPECT_EQ(visLiveObjectCount(OBJ_BRUSH), before.brushes + 2);
  deleteFillBrushSlot();
  deletePenSlot();
  deleteBackBrushSlot();
  EXPECT_EQ(GetObjectType(pen), 0u);
  EXPECT_EQ(GetObjectType(fill), 0u);
  EXPECT_EQ(GetObjectType(back), 0u);
  EXPECT_EQ(visLiveObjectCount(OBJ_PEN), before.pens);
  EXPECT_EQ(visLiveObjectCount(OBJ_BRUSH), before.brushes);
}

TEST_F(SurfaceTest, ClearFillsTheSurfaceRect) {
  visState.surfaceWidth = 8;
  visState.surfaceHeight = 4;
  visState.surfaceRect = {0, 0, 8, 4};
  buildSurface(8, 4);
  VisPixels pixels;
  ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &pixels));
  for (int i = 0; i < 32; ++i) pixels.pixels[i] = 0x00abcdef;  // marker
  HBRUSH brush = newBackBrush(RGB(0x12, 0x34, 0x56));
  clearSurface(brush);
  deleteBackBrushSlot();
  for (int i = 0; i < 32; ++i) EXPECT_EQ(pixels.pixels[i], 0x00123456u) << i;
}


// Every GDI slot taken but `spare`, by pens that the caller deletes.
std::vector<HPEN> exhaustObjects(int spare) {
  std::vector<HPEN> pens;
  while (HPEN pen = CreatePen(PS_SOLID, 1, 0)) pens.push_back(pen);
  for (int i = 0; i < spare && !pens.empty(); ++i) {
    DeleteObject(pens.back());
    pens.pop_back();
  }
  return pens;
}

TEST_F(SurfaceTest, ABuildThatFailsAfterTheBitmapLeavesNothingBehind) {
  // One free slot: the window's DC takes it and gives it back, the memory DC finds
  // none, and the bitmap gets it, with no DC to go into.
  std::vector<HPEN> pens = exhaustObjects(1);
  buildSurface(32, 32);
  EXPECT_EQ(drawSurface.dc, nullptr);
  releaseSurface();
  for (HPEN pen : pens) DeleteObject(pen);
  EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), before.bitmaps);
  EXPECT_EQ(visLiveObjectCount(OBJ_MEMDC), before.memoryDcs);
  EXPECT_EQ(visLiveObjectCount(OBJ_PEN), before.pens);
}

TEST_F(SurfaceTest, ARepaintWithoutAPaintDcDrawsAndEndsNothing) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "SurfaceTestWindow";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND window = CreateWindowExA(0, "SurfaceTestWindow", "", WS_POPUP | WS_VISIBLE, 0, 0, 40, 30,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  buildSurface(40, 30);
  std::vector<std::string> calls;
  std::vector<HPEN> pens = exhaustObjects(0);  // BeginPaint finds no slot for its DC
  visSetTraceSink([](void* context, const char* line) {
    static_cast<std::vector<std::string>*>(context)->push_back(line);
  }, &calls);
  repaintSurface(window);
  visSetTraceSink(nullptr, nullptr);
  for (HPEN pen : pens) DeleteObject(pen);
  for (const std::string& call : calls) {
    EXPECT_EQ(call.find("EndPaint"), std::string::npos) << call;
    EXPECT_EQ(call.find("BitBlt"), std::string::npos) << call;
    EXPECT_EQ(call.find("FillRect"), std::string::npos) << call;
  }
  DestroyWindow(window);
  UnregisterClassA("SurfaceTestWindow", nullptr);
  EXPECT_EQ(visLiveObjectCount(OBJ_DC), before.windowDcs);
}

}  // namespace
