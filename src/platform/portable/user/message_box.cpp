// MessageBoxA of the portable USER32. There is no dialog here: a host that can show
// one (or a test that records it) installs a handler; without one the caption and the
// text go to stderr and the answer is IDOK, the answer of a box with one OK button.
#include <stdio.h>

#include <mutex>

#include "../visplatform.h"

namespace {
std::mutex handlerMutex;
VisMessageBoxHandler handler = nullptr;
void* handlerContext = nullptr;
}  // namespace

extern "C" {

void visSetMessageBoxHandler(VisMessageBoxHandler newHandler, void* context) {
  std::lock_guard<std::mutex> lock(handlerMutex);
  handler = newHandler;
  handlerContext = context;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  VisMessageBoxHandler current;
  void* context;
  {
    std::lock_guard<std::mutex> lock(handlerMutex);
    current = handler;
    context = handlerContext;
  }
  // Windows shows "Error" when the caption is null.
  const char* shownCaption = caption ? caption : "Error";
  const char* shownText = text ? text : "";
  if (current) return current(context, owner, shownText, shownCaption, type);
  fprintf(stderr, "[%s] %s\n", shownCaption, shownText);
  return IDOK;
}

}  // extern "C"
