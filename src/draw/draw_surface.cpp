// The drawing surface: a memory DC with a 32-bit bitmap the size of the frame's
// client area, built at init and at every resize, copied to the visualisation window
// once per frame.
#include "draw/draw_surface.h"

#include "state/vis_state.h"

DrawSurface drawSurface = {};

void buildSurface(int width, int height) {
  releaseSurface();
  // During the window's creation its handle is not stored yet, and GetDC(0) gives
  // the screen's DC, which serves as well as a reference for a compatible DC.
  HDC windowDc = GetDC(visState.visWindow);
  drawSurface.dc = CreateCompatibleDC(windowDc);
  ReleaseDC(visState.visWindow, windowDc);
  drawSurface.bitmap = CreateBitmap(width, height, 1, 32, nullptr);
  drawSurface.previous = static_cast<HBITMAP>(SelectObject(drawSurface.dc, drawSurface.bitmap));
  if (!drawSurface.previous) {
    // Not selected (no DC, or no bitmap to select): nothing would release the bitmap
    // later, so it goes now, and the DC draws into its default bitmap, which is to
    // say nowhere.
    if (drawSurface.bitmap) DeleteObject(drawSurface.bitmap);
    drawSurface.bitmap = nullptr;
  }
  drawSurface.defaultPen = GetStockObject(BLACK_PEN);
  drawSurface.defaultBrush = GetStockObject(WHITE_BRUSH);
}

void releaseSurface(void) {
  if (drawSurface.dc) {
    if (drawSurface.previous) SelectObject(drawSurface.dc, drawSurface.previous);
    DeleteDC(drawSurface.dc);
  }
  if (drawSurface.bitmap) DeleteObject(drawSurface.bitmap);
  drawSurface.dc = nullptr;
  drawSurface.bitmap = nullptr;
  drawSurface.previous = nullptr;
}

void clearSurface(HBRUSH brush) { FillRect(drawSurface.dc, &visState.surfaceRect, brush); }

void presentSurface(void) {
  HDC windowDc = GetDC(visState.visWindow);
  BitBlt(windowDc, 0, 0, visState.surfaceWidth, visState.surfaceHeight, drawSurface.dc, 0, 0,
         SRCCOPY);
  ReleaseDC(visState.visWindow, windowDc);
}

void repaintSurface(HWND window) {
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(window, &paint);
  // A failed BeginPaint has filled in nothing, and there is no painting to end.
  if (!dc) return;
  RECT client;
  GetClientRect(window, &client);
  BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, drawSurface.dc, 0, 0,
         SRCCOPY);
  HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  const RECT right = {client.left + visState.surfaceWidth, client.top, client.right,
                      client.bottom};
  FillRect(dc, &right, white);
  const RECT below = {client.left, client.top + visState.surfaceHeight, client.right,
                      client.bottom};
  FillRect(dc, &below, white);
  EndPaint(window, &paint);
}

void selectNewPen(int width, COLORREF color) {
  drawSurface.pen = CreatePen(PS_SOLID, width, color);
  SelectObject(drawSurface.dc, drawSurface.pen);
}

void selectNewFillBrush(COLORREF color) {
  drawSurface.fillBrush = CreateSolidBrush(color);
  SelectObject(drawSurface.dc, drawSurface.fillBrush);
}

HBRUSH newBackBrush(COLORREF color) {
  drawSurface.backBrush = CreateSolidBrush(color);
  return drawSurface.backBrush;
}

// GDI only marks a selected pen or brush for deletion and frees it when it leaves the
// DC, so the DC's default object goes back in first; nothing is drawn in between, so
// the picture is the same.
void deletePenSlot(void) {
  SelectObject(drawSurface.dc, drawSurface.defaultPen);
  DeleteObject(drawSurface.pen);
}

void deleteFillBrushSlot(void) {
  SelectObject(drawSurface.dc, drawSurface.defaultBrush);
  DeleteObject(drawSurface.fillBrush);
}

void deleteBackBrushSlot(void) { DeleteObject(drawSurface.backBrush); }
