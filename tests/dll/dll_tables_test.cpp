// The DLL's tables as the Windows loader reads them (i686-w64-mingw32-objdump -p): it
// exports exactly the plain name winampVisGetHeader (no decoration, no runtime
// symbols), and it imports only system DLLs: USER32, GDI32, KERNEL32 and the C runtime
// msvcrt, with no GCC, C++ runtime or thread-library DLL that a host would not have.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string objdumpTables(const std::string& dll, int* status) {
  std::string command = "i686-w64-mingw32-objdump -p '" + dll + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

}  // namespace

TEST(DllTables, ExportsOnlyTheHeaderFunctionAndImportsOnlySystemDlls) {
  const std::string dll = std::string(VIS_MINGW_DIR) + "/vis_orlim.dll";
  ASSERT_TRUE(std::filesystem::exists(dll))
      << dll << " is missing: build the mingw-i686 preset first (cmake --preset mingw-i686 && "
      << "cmake --build --preset mingw-i686; make test does this)";
  int status = 0;
  std::string tables = objdumpTables(dll, &status);
  ASSERT_EQ(status, 0) << "i686-w64-mingw32-objdump failed (make deps installs "
                       << "g++-mingw-w64-i686):\n" << tables;

  // Imports: one "DLL Name:" line per imported DLL.
  std::set<std::string> imports;
  std::regex dllName(R"(DLL Name:\s*(\S+))");
  for (std::sregex_iterator it(tables.begin(), tables.end(), dllName), end; it != end; ++it)
    imports.insert(upper((*it)[1]));
  ASSERT_FALSE(imports.empty()) << "no import table found:\n" << tables;
  const std::set<std::string> allowed = {"USER32.DLL", "GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL"};
  for (const std::string& name : imports)
    EXPECT_TRUE(allowed.count(name)) << "imports " << name << ", which a host does not have";
  for (const char* needed : {"USER32.DLL", "GDI32.DLL", "KERNEL32.DLL"})
    EXPECT_TRUE(imports.count(needed)) << "does not import " << needed;

  // Exports: the rows of the "[Ordinal/Name Pointer] Table" section,
  // e.g. "\t[   0] winampVisGetHeader".
  size_t at = tables.find("[Ordinal/Name Pointer] Table");
  ASSERT_NE(at, std::string::npos) << "no export name table:\n" << tables;
  std::stringstream rows(tables.substr(at));
  std::string row;
  std::getline(rows, row);
  std::vector<std::string> names;
  std::regex entry(R"(^\s*\[\s*\d+\]\s+(\S+)\s*$)");
  while (std::getline(rows, row)) {
    std::smatch m;
    if (!std::regex_match(row, m, entry)) break;
    names.push_back(m[1]);
  }
  EXPECT_EQ(names, std::vector<std::string>{"winampVisGetHeader"});
}
