// Handles, selection and deletion of the portable GDI, as Windows defines them.
#include <gtest/gtest.h>

#include "visplatform.h"

namespace {

TEST(GdiObjects, SelectedPenDeletionIsDeferredUntilDeselected) {
  const int pens = visLiveObjectCount(OBJ_PEN);
  HDC dc = CreateCompatibleDC(nullptr);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HGDIOBJ original = SelectObject(dc, pen);
  EXPECT_EQ(original, GetStockObject(BLACK_PEN));  // a new DC holds the black pen

  // Windows reports success but keeps the object while it is selected.
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_EQ(GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));
  EXPECT_EQ(visLiveObjectCount(OBJ_PEN), pens + 1);

  EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_PEN)), static_cast<HGDIOBJ>(pen));
  EXPECT_EQ(GetObjectType(pen), 0u);
  EXPECT_EQ(visLiveObjectCount(OBJ_PEN), pens);
  DeleteDC(dc);
}

TEST(GdiObjects, DeletingTheDcFreesWhatWaitedForIt) {
  const int brushes = visLiveObjectCount(OBJ_BRUSH);
  HDC dc = CreateCompatibleDC(nullptr);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  SelectObject(dc, brush);
  DeleteObject(brush);
  EXPECT_EQ(visLiveObjectCount(OBJ_BRUSH), brushes + 1);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_EQ(visLiveObjectCount(OBJ_BRUSH), brushes);
  EXPECT_EQ(GetObjectType(dc), 0u);
}

TEST(GdiObjects, StaleAndNullHandlesFailAndDrawNothing) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
  SelectObject(dc, bitmap);
  VisPixels pixels;
  ASSERT_TRUE(visBitmapPixels(bitmap, &pixels));
  for (int i = 0; i < 16; ++i) pixels.pixels[i] = 0x00abcdef;

  HBRUSH brush = CreateSolidBrush(RGB(9, 9, 9));
  DeleteObject(brush);
  const RECT all = {0, 0, 4, 4};
  EXPECT_EQ(FillRect(dc, &all, brush), 0);            // deleted brush
  EXPECT_EQ(FillRect(dc, &all, nullptr), 0);          // null brush
  EXPECT_EQ(SelectObject(dc, brush), nullptr);        // deleted object
  EXPECT_EQ(SelectObject(nullptr, bitmap), nullptr);  // null DC
  EXPECT_FALSE(DeleteObject(brush));                  // twice
  // A slot reused by a new object gets a new handle: the old one stays dead.
  HBRUSH reused = CreateSolidBrush(RGB(7, 7, 7));
  EXPECT_NE(reused, brush);
  EXPECT_EQ(GetObjectType(brush), 0u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pixels.pixels[i], 0x00abcdefu);
  DeleteObject(reused);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

TEST(GdiObjects, ABitmapLivesInOneDcAtATime) {
  HDC first = CreateCompatibleDC(nullptr);
  HDC second = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateBitmap(2, 2, 1, 32, nullptr);
  HGDIOBJ previous = SelectObject(first, bitmap);
  EXPECT_EQ(GetObjectType(previous), static_cast<DWORD>(OBJ_BITMAP));  // the 1x1 default
  EXPECT_EQ(SelectObject(second, bitmap), nullptr);
  SelectObject(first, previous);
  EXPECT_NE(SelectObject(second, bitmap), nullptr);
  DeleteDC(second);
  DeleteDC(first);
  EXPECT_TRUE(DeleteObject(bitmap));
}

TEST(GdiObjects, StockObjectsAreSharedAndNeverFreed) {
  HGDIOBJ white = GetStockObject(WHITE_BRUSH);
  EXPECT_EQ(white, GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(GetObjectType(white), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetObjectType(GetStockObject(NULL_PEN)), static_cast<DWORD>(OBJ_PEN));
  EXPECT_TRUE(DeleteObject(white));
  EXPECT_EQ(GetObjectType(white), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(GetStockObject(99), nullptr);
}

TEST(GdiObjects, TraceWritesOneLinePerCall) {
  std::vector<std::string> lines;
  visSetTraceSink(
      [](void* context, const char* line) {
        static_cast<std::vector<std::string>*>(context)->push_back(line);
      },
      &lines);
  HDC dc = CreateCompatibleDC(nullptr);
  HPEN pen = CreatePen(PS_SOLID, 2, RGB(0xff, 0x80, 0x01));
  SelectObject(dc, pen);
  MoveToEx(dc, 1, 2, nullptr);
  LineTo(dc, 30, 40);
  const POINT triangle[3] = {{0, 0}, {10, 0}, {5, 8}};
  Polygon(dc, triangle, 3);
  DeleteObject(pen);
  DeleteDC(dc);
  visSetTraceSink(nullptr, nullptr);

  ASSERT_EQ(lines.size(), 8u);
  // Ids are serials: parse them back rather than guessing their values.
  unsigned dcId = 0, penId = 0;
  ASSERT_EQ(sscanf(lines[0].c_str(), "#%u = CreateCompatibleDC #0", &dcId), 1);
  ASSERT_EQ(sscanf(lines[1].c_str(), "#%u = CreatePen 0 2 0x000180ff", &penId), 1);
  EXPECT_EQ(lines[2], "SelectObject #" + std::to_string(dcId) + " #" + std::to_string(penId));
  EXPECT_EQ(lines[3], "MoveToEx #" + std::to_string(dcId) + " 1 2");
  EXPECT_EQ(lines[4], "LineTo #" + std::to_string(dcId) + " 30 40");
  EXPECT_EQ(lines[5], "Polygon #" + std::to_string(dcId) + " 3 0 0 10 0 5 8");
  EXPECT_EQ(lines[6], "DeleteObject #" + std::to_string(penId));
  EXPECT_EQ(lines[7], "DeleteDC #" + std::to_string(dcId));
}

}  // namespace
