// Modules, the system time and message boxes of the portable layer.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>
#include <time.h>

#include <string>

#include "visplatform.h"

namespace {

std::string moduleName(HMODULE module, DWORD size = MAX_PATH) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, size);
  return n ? std::string(path) : std::string();
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(KernelModules, LoadedLibrariesNameTheirFilesAndSymbols) {
  HMODULE libm = LoadLibraryA("libm.so.6");
  ASSERT_NE(libm, nullptr);
  const std::string path = moduleName(libm);
  EXPECT_EQ(path[0], '/') << path;  // a full path, as on Windows
  EXPECT_NE(path.find("libm"), std::string::npos) << path;
  typedef double (*Cosine)(double);
  Cosine cosine = reinterpret_cast<Cosine>(GetProcAddress(libm, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(libm, "no_such_symbol_here"), nullptr);
  // The handle is the load address: the same for a second load, and an address of
  // the library names it too.
  HMODULE again = LoadLibraryA("libm.so.6");
  EXPECT_EQ(again, libm);
  EXPECT_EQ(moduleName(reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(cosine))), path);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_TRUE(FreeLibrary(libm));
  EXPECT_FALSE(FreeLibrary(libm));  // no references left
  EXPECT_EQ(LoadLibraryA("/no/such/library.so"), nullptr);
  EXPECT_EQ(LoadLibraryA(""), nullptr);
}

TEST(KernelModules, ProgramAndAddressesResolveWithoutLoadLibrary) {
  const std::string program = moduleName(nullptr);
  EXPECT_TRUE(endsWith(program, "/test_platform")) << program;
  // An address inside libvisplatform names libvisplatform.
  const std::string platform =
      moduleName(reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(&GetModuleFileNameA)));
  EXPECT_TRUE(endsWith(platform, "/libvisplatform.so")) << platform;
  EXPECT_EQ(moduleName(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(16))), "");
}

TEST(KernelModules, FileNameCopiesAsWindowsDoes) {
  visSetModuleFileNameOverride("/plug/ins/vis_orlim.so");  // 22 characters
  struct Case {
    DWORD size;
    DWORD result;
    const char* text;
    const char* note;
  };
  const Case cases[] = {
      {MAX_PATH, 22, "/plug/ins/vis_orlim.so", "fits"},
      {23, 22, "/plug/ins/vis_orlim.so", "fits with its terminator exactly"},
      {22, 22, "/plug/ins/vis_orlim.s", "one short: cut, terminated, result = size"},
      {5, 5, "/plu", "cut short"},
  };
  for (const Case& c : cases) {
    char out[MAX_PATH];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(GetModuleFileNameA(nullptr, out, c.size), c.result) << c.note;
    EXPECT_STREQ(out, c.text) << c.note;
  }
  char out[4] = "abc";
  EXPECT_EQ(GetModuleFileNameA(nullptr, out, 0), 0u);
  EXPECT_STREQ(out, "abc");  // nothing written
  visSetModuleFileNameOverride(nullptr);
  EXPECT_NE(moduleName(nullptr), "/plug/ins/vis_orlim.so");
}

TEST(KernelTime, SystemTimeIsUtcWithMillisecondsOrTheOverride) {
  const time_t before = time(nullptr);
  SYSTEMTIME now;
  GetSystemTime(&now);
  const time_t after = time(nullptr);
  struct tm fields = {};
  fields.tm_year = now.wYear - 1900;
  fields.tm_mon = now.wMonth - 1;
  fields.tm_mday = now.wDay;
  fields.tm_hour = now.wHour;
  fields.tm_min = now.wMinute;
  fields.tm_sec = now.wSecond;
  const time_t asUtc = timegm(&fields);
  EXPECT_GE(asUtc, before);
  EXPECT_LE(asUtc, after);
  EXPECT_LT(now.wMilliseconds, 1000);
  struct tm check;
  gmtime_r(&asUtc, &check);
  EXPECT_EQ(now.wDayOfWeek, check.tm_wday);

  const SYSTEMTIME fixed = {2001, 2, 6, 3, 4, 5, 6, 789};
  visSetSystemTimeOverride(&fixed);
  SYSTEMTIME got;
  GetSystemTime(&got);
  EXPECT_EQ(memcmp(&got, &fixed, sizeof got), 0);
  visSetSystemTimeOverride(nullptr);
  GetSystemTime(&got);
  EXPECT_NE(got.wYear, 2001);
}

struct BoxCall {
  HWND owner;
  std::string text, caption;
  UINT type;
};

int recordBox(void* context, HWND owner, const char* text, const char* caption, UINT type) {
  *static_cast<BoxCall*>(context) = {owner, text, caption, type};
  return IDCANCEL;
}

TEST(UserMessageBox, GoesToTheHandlerOrToStderr) {
  BoxCall call = {};
  visSetMessageBoxHandler(recordBox, &call);
  HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4242));
  EXPECT_EQ(MessageBoxA(owner, "Text", "Caption", MB_OK | MB_ICONERROR), IDCANCEL);
  EXPECT_EQ(call.owner, owner);
  EXPECT_EQ(call.text, "Text");
  EXPECT_EQ(call.caption, "Caption");
  EXPECT_EQ(call.type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
  EXPECT_EQ(call.caption, "Error");  // Windows' caption when none is given
  EXPECT_EQ(call.text, "");
  visSetMessageBoxHandler(nullptr, nullptr);

  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Something happened", "blah", MB_OK), IDOK);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("blah"), std::string::npos);
  EXPECT_NE(printed.find("Something happened"), std::string::npos);
}

}  // namespace
