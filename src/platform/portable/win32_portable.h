// The Win32 subset that libvisplatform provides off Windows.
//
// Names, types, constants and signatures are those of the Windows SDK, so that code
// written against <windows.h> compiles unchanged here. Only what the plug-in and its
// hosts call is declared. The semantics are Win32's (see the implementation files):
// this is not a look-alike API. Windows, their classes and queues, DCs and GDI objects
// take no locks. Each thread has a window system of its own: a window, and every call
// that names it (sends and posts included), belong to the thread that created it, and
// from any other thread the handle fails as a destroyed one does. GDI objects live in
// one table for the process, so GDI calls must not run on two threads at once.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(VISPLATFORM_BUILD)
#define VISPLATFORM_API __attribute__((visibility("default")))
#else
#define VISPLATFORM_API
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY

// ---- Basic types ---------------------------------------------------------------

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef int INT;
typedef char CHAR;
typedef uint16_t ATOM;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef DWORD COLORREF;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Handles are opaque, distinct pointer types as with STRICT, so a pen cannot be
// passed where a window is expected. Every GDI handle converts to HGDIOBJ.
#define VIS_DECLARE_HANDLE(name) \
  struct name##__ {              \
    int unused;                  \
  };                             \
  typedef struct name##__* name
VIS_DECLARE_HANDLE(HWND);
VIS_DECLARE_HANDLE(HINSTANCE);
VIS_DECLARE_HANDLE(HDC);
VIS_DECLARE_HANDLE(HPEN);
VIS_DECLARE_HANDLE(HBRUSH);
VIS_DECLARE_HANDLE(HBITMAP);
VIS_DECLARE_HANDLE(HMENU);
VIS_DECLARE_HANDLE(HICON);
VIS_DECLARE_HANDLE(HRGN);
#undef VIS_DECLARE_HANDLE
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef void* HGDIOBJ;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *LPPOINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagWINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
} WINDOWPOS;

typedef struct tagCREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTA;

// ---- Macros ----------------------------------------------------------------------

#define MAX_PATH 260
#define RGB(r, g, b) \
  ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))
#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((DWORD)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTATOM(i) ((LPCSTR)((UINT_PTR)((WORD)(i))))

// ---- Constants -----------------------------------------------------------------

// Window messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_COMMAND 0x0111
#define WM_USER 0x0400

// WM_SIZE wParam.
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
  (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define CW_USEDEFAULT ((int)0x80000000)

// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5

// SetWindowPos.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

// Get/SetWindowLong.
#define GWL_WNDPROC (-4)
#define GWL_STYLE (-16)
#define GWL_USERDATA (-21)
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)

// PeekMessage.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// MessageBox.
#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L
#define IDOK 1
#define IDCANCEL 2

// GDI.
#define PS_SOLID 0
#define PS_NULL 5
#define BS_SOLID 0
#define BS_NULL 1
#define SRCCOPY ((DWORD)0x00CC0020)
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10
#define HGDI_ERROR ((HGDIOBJ)(intptr_t)-1)
#define CLR_INVALID 0xFFFFFFFF

#ifdef __cplusplus
extern "C" {
#endif

// ---- GDI32 -----------------------------------------------------------------------

VISPLATFORM_API HDC WINAPI CreateCompatibleDC(HDC dc);
VISPLATFORM_API BOOL WINAPI DeleteDC(HDC dc);
VISPLATFORM_API HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel,
                                            const void* bits);
VISPLATFORM_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
VISPLATFORM_API BOOL WINAPI DeleteObject(HGDIOBJ object);
VISPLATFORM_API DWORD WINAPI GetObjectType(HGDIOBJ object);
VISPLATFORM_API HGDIOBJ WINAPI GetStockObject(int index);
VISPLATFORM_API HPEN WINAPI CreatePen(int style, int width, COLORREF color);
VISPLATFORM_API HBRUSH WINAPI CreateSolidBrush(COLORREF color);
VISPLATFORM_API BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom);
VISPLATFORM_API BOOL WINAPI Rectangle(HDC dc, int left, int top, int right, int bottom);
VISPLATFORM_API BOOL WINAPI Polygon(HDC dc, const POINT* points, int count);
VISPLATFORM_API BOOL WINAPI MoveToEx(HDC dc, int x, int y, LPPOINT previous);
VISPLATFORM_API BOOL WINAPI LineTo(HDC dc, int x, int y);
VISPLATFORM_API BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source,
                                   int sourceX, int sourceY, DWORD rop);
VISPLATFORM_API COLORREF WINAPI GetPixel(HDC dc, int x, int y);

// ---- USER32 ----------------------------------------------------------------------

VISPLATFORM_API HDC WINAPI GetDC(HWND window);
VISPLATFORM_API int WINAPI ReleaseDC(HWND window, HDC dc);
VISPLATFORM_API int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
VISPLATFORM_API HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint);
VISPLATFORM_API BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
VISPLATFORM_API BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
VISPLATFORM_API BOOL WINAPI UpdateWindow(HWND window);

VISPLATFORM_API ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass);
VISPLATFORM_API BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
VISPLATFORM_API HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName,
                                            DWORD style, int x, int y, int width, int height,
                                            HWND parent, HMENU menu, HINSTANCE instance,
                                            LPVOID param);
VISPLATFORM_API BOOL WINAPI DestroyWindow(HWND window);
VISPLATFORM_API BOOL WINAPI IsWindow(HWND window);
VISPLATFORM_API HWND WINAPI GetParent(HWND window);
VISPLATFORM_API LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam);
VISPLATFORM_API LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
VISPLATFORM_API BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam);
VISPLATFORM_API BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
VISPLATFORM_API BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                                         UINT removeFlags);
VISPLATFORM_API BOOL WINAPI TranslateMessage(const MSG* msg);
VISPLATFORM_API LRESULT WINAPI DispatchMessageA(const MSG* msg);
VISPLATFORM_API void WINAPI PostQuitMessage(int exitCode);
VISPLATFORM_API BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
VISPLATFORM_API int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount);
VISPLATFORM_API LONG WINAPI SetWindowLongA(HWND window, int index, LONG value);
VISPLATFORM_API LONG WINAPI GetWindowLongA(HWND window, int index);
// The pointer-sized forms; on a 32-bit build they are the same calls as the above.
VISPLATFORM_API LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
VISPLATFORM_API LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index);
VISPLATFORM_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
VISPLATFORM_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
VISPLATFORM_API BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx,
                                         int cy, UINT flags);
VISPLATFORM_API BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height,
                                       BOOL repaint);
VISPLATFORM_API BOOL WINAPI ShowWindow(HWND window, int command);
VISPLATFORM_API BOOL WINAPI IsWindowVisible(HWND window);
VISPLATFORM_API BOOL WINAPI SetForegroundWindow(HWND window);
VISPLATFORM_API HWND WINAPI GetForegroundWindow(void);
VISPLATFORM_API int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// ---- KERNEL32 --------------------------------------------------------------------

VISPLATFORM_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
VISPLATFORM_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
VISPLATFORM_API void* WINAPI GetProcAddress(HMODULE module, LPCSTR name);
VISPLATFORM_API BOOL WINAPI FreeLibrary(HMODULE module);
VISPLATFORM_API void WINAPI GetSystemTime(LPSYSTEMTIME time);
VISPLATFORM_API UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue,
                                                  LPCSTR fileName);
VISPLATFORM_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key,
                                                      LPCSTR defaultValue, LPSTR out,
                                                      DWORD size, LPCSTR fileName);
VISPLATFORM_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                                       LPCSTR fileName);

#ifdef __cplusplus
}
#endif
