// The off-screen drawing surface every effect draws into, its three object slots,
// and the operations that build, clear, present and repaint it.
//
// Effects create every pen and brush they use inside one render, keep it in a slot
// while it is in use and delete it through the slot while it is still selected. The
// delete helpers below first put the DC's default object back, because GDI defers the
// deletion of a selected object until it is deselected: without that, the last pen
// and brush of a frame would outlive it.
#pragma once

#include "platform/win32.h"

struct DrawSurface {
  HDC dc;               // memory DC compatible with the visualisation window's DC
  HBITMAP bitmap;       // surfaceWidth x surfaceHeight, 32 bits per pixel
  HBITMAP previous;     // the bitmap the DC held before, selected back at release
  HPEN pen;             // pen slot
  HBRUSH fillBrush;     // fill-brush slot
  HBRUSH backBrush;     // background-brush slot
  HGDIOBJ defaultPen;   // the DC's own pen and brush, put back before a deletion
  HGDIOBJ defaultBrush;
};

extern DrawSurface drawSurface;

// Releases any current surface, then builds one of width x height pixels.
void buildSurface(int width, int height);

// Selects the old bitmap back and deletes the DC and the surface bitmap.
void releaseSurface(void);

// Fills surfaceRect with the brush.
void clearSurface(HBRUSH brush);

// Copies the whole surface to the visualisation window in one transfer.
void presentSurface(void);

// Serves WM_PAINT: the surface at the top-left, white strips right of and below it.
void repaintSurface(HWND window);

// Slot helpers: create, store in the slot, select into the surface.
void selectNewPen(int width, COLORREF color);
void selectNewFillBrush(COLORREF color);
HBRUSH newBackBrush(COLORREF color);

// Delete the object in a slot, deselecting it first so that it is really freed.
void deletePenSlot(void);
void deleteFillBrushSlot(void);
void deleteBackBrushSlot(void);
