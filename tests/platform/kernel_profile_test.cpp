// Profile (INI) files: what our writer writes reads back with our reader, and a file
// written by hand in Windows' style keeps everything a save does not touch. The
// reading rules and integer conversions were checked against Wine 8 on the same files.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/resource.h>  // the peak memory of a call, in a child
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "visplatform.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/profile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    file = dir + "/plugin.ini";
  }
  void TearDown() override {
    for (const std::string& name : entries()) unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
  }
  std::string read() const {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void write(const std::string& text) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
      }
      closedir(d);
    }
    return names;
  }
  std::string get(const char* section, const char* key, const char* fallback = "?") const {
    char out[64];
    GetPrivateProfileStringA(section, key, fallback, out, sizeof out, file.c_str());
    return out;
  }
  std::string dir, file;
};

TEST_F(ProfileTest, WrittenFileReadsBack) {
  ASSERT_TRUE(WritePrivateProfileStringA("Zarvenn", "Screen_x", "50", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Zarvenn", "Screen_y", "-60", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Pellox", "Screen_x", "2147483647", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("zarvenn", "SCREEN_X", "51", file.c_str()));  // update
  // The layout Wine writes: CR LF, sections one after another, the key's first spelling.
  EXPECT_EQ(read(),
            "[Zarvenn]\r\nScreen_x=51\r\nScreen_y=-60\r\n"
            "[Pellox]\r\nScreen_x=2147483647\r\n");
  EXPECT_EQ(GetPrivateProfileIntA("Zarvenn", "Screen_x", 0, file.c_str()), 51u);
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("ZARVENN", "screen_y", 0, file.c_str())), -60);
  EXPECT_EQ(GetPrivateProfileIntA("Pellox", "Screen_x", 0, file.c_str()), 2147483647u);
  EXPECT_EQ(GetPrivateProfileIntA("Pellox", "Screen_y", 99, file.c_str()), 99u);
  // No temporary file is left beside it.
  EXPECT_EQ(entries(), std::vector<std::string>{"plugin.ini"});
}

TEST_F(ProfileTest, HandWrittenFileKeepsWhatASaveDoesNotTouch) {
  const std::string before =
      "; written by hand\r\n"
      "\r\n"
      "[General]\r\n"
      "  Volume = 80  \r\n"
      "; a comment in a section\r\n"
      "Screen_x=7\r\n"
      "\r\n"
      "[tovanel]\r\n"
      "SCREEN_X = 1\r\n"
      "Other=keep me\r\n"
      "\r\n"
      "\r\n"
      "[Last]\r\n"
      "k=v";  // no line end at the end
  write(before);
  ASSERT_TRUE(WritePrivateProfileStringA("Tovanel", "Screen_x", "300", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Tovanel", "Screen_y", "200", file.c_str()));
  EXPECT_EQ(read(),
            "; written by hand\r\n"
            "\r\n"
            "[General]\r\n"
            "  Volume = 80  \r\n"
            "; a comment in a section\r\n"
            "Screen_x=7\r\n"
            "\r\n"
            "[tovanel]\r\n"
            "SCREEN_X=300\r\n"        // the key keeps its spelling
            "Other=keep me\r\n"
            "Screen_y=200\r\n"        // a new key after the section's last entry
            "\r\n"
            "\r\n"
            "[Last]\r\n"
            "k=v");  // still without a line end: the write did not touch it
  EXPECT_EQ(get("general", "volume"), "80");
  EXPECT_EQ(get("General", "Screen_x"), "7");
  EXPECT_EQ(get("Last", "K"), "v");
}

TEST_F(ProfileTest, ReadingRules) {
  write("stray=before any section\n"
        "[S]\n"
        "plain=value\n"
        "  spaced  =   padded value  \n"
        "dq=\"quoted \"\n"
        "sq='single'\n"
        "odd=\"unbalanced\n"
        "empty=\n"
        ";commented=1\n"
        "no equals sign\n"
        "dup=first\n"
        "dup=second\n"
        "[s]\n"
        "plain=second section of the same name\n"
        "[ Spaced Section ]\n"
        "k=in spaced\n");
  struct Case {
    const char* section;
    const char* key;
    const char* fallback;
    std::string expected;
    const char* note;
  };
  const Case cases[] = {
      {"S", "plain", "?", "value", "plain"},
      {"s", "PLAIN", "?", "value", "names ignore case; the first section wins"},
      {"S", "spaced", "?", "padded value", "names and values trimmed"},
      {"S", "dq", "?", "quoted ", "double quotes removed, inner blank kept"},
      {"S", "sq", "?", "single", "single quotes removed"},
      {"S", "odd", "?", "\"unbalanced", "an unmatched quote stays"},
      {"S", "empty", "?", "", "an empty value is a value"},
      {"S", ";commented", "?", "?", "comment lines are no entries"},
      {"S", "no equals sign", "?", "?", "a line without '=' is no entry"},
      {"S", "dup", "?", "first", "the first of two keys wins"},
      {"S", "stray", "?", "?", "entries before any section belong to none"},
      {"Spaced Section", "k", "?", "in spaced", "section names trimmed"},
      {" Spaced Section\t", " k ", "?", "in spaced", "the names asked for trimmed too"},
      {"Missing", "k", "fallback  ", "fallback", "the default loses trailing blanks"},
      {"Missing", "k", nullptr, "", "a null default is empty"},
  };
  for (const Case& c : cases) EXPECT_EQ(get(c.section, c.key, c.fallback), c.expected) << c.note;

  // A value that does not fit is cut to size - 1 characters, and that is the result.
  char small[4];
  EXPECT_EQ(GetPrivateProfileStringA("S", "plain", "", small, sizeof small, file.c_str()), 3u);
  EXPECT_STREQ(small, "val");
  // A missing file reads as empty.
  char out[8];
  EXPECT_EQ(GetPrivateProfileStringA("S", "plain", "dflt", out, sizeof out,
                                     (dir + "/missing.ini").c_str()),
            4u);
  EXPECT_STREQ(out, "dflt");
}

TEST_F(ProfileTest, IntegersReadAsWindowsReadsThem) {
  struct Case {
    const char* value;
    int expected;
    const char* note;
  };
  const Case cases[] = {
      {"42", 42, "plain"},
      {"-30", -30, "negative"},
      {"+7", 7, "explicit plus"},
      {"12abc", 12, "digits up to the first other character"},
      {"abc", 0, "no digits: 0, not the default"},
      {"", -5, "empty: the default"},
      {"4294967297", 1, "wraps at 32 bits"},
      {"2147483648", -2147483647 - 1, "wraps into the sign"},
      {"0x10", 16, "hexadecimal prefix"},
      {"0X10", 0, "prefixes are lower case only"},
      {"0o17", 15, "octal prefix"},
      {"0b101", 5, "binary prefix"},
      {"-0x10", -16, "sign before the prefix"},
      {"0x1g", 1, "digits of the base only"},
      {"--3", 0, "one sign"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WritePrivateProfileStringA("N", "v", c.value, file.c_str()));
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("N", "v", -5, file.c_str())), c.expected)
        << c.note;
  }
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("N", "missing", -5, file.c_str())), -5);
}

TEST_F(ProfileTest, DeletionAndEnumeration) {
  write("[A]\nk1=1\nk2=2\n\n[B]\nx=1\n\n[C]\ny=2\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "k1", nullptr, file.c_str()));  // delete a key
  ASSERT_TRUE(WritePrivateProfileStringA("b", nullptr, nullptr, file.c_str()));  // a section
  EXPECT_EQ(read(), "[A]\nk2=2\n\n[C]\ny=2\n");  // LF-only files stay LF-only
  char list[32];
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, file.c_str()), 4u);
  EXPECT_EQ(std::string(list, 5), std::string("A\0C\0\0", 5));
  EXPECT_EQ(GetPrivateProfileStringA("A", nullptr, "", list, sizeof list, file.c_str()), 3u);
  EXPECT_EQ(std::string(list, 4), std::string("k2\0\0", 4));
  // A list that does not fit ends in two terminators and reports size - 2.
  char tiny[3];
  EXPECT_EQ(GetPrivateProfileStringA("A", nullptr, "", tiny, sizeof tiny, file.c_str()), 1u);
  EXPECT_EQ(std::string(tiny, 3), std::string("k\0\0", 3));
}

TEST_F(ProfileTest, FailedWritesLeaveTheFileAsItWas) {
  write("[A]\r\nk=1\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    std::string path;
    const char* note;
  };
  const Case cases[] = {
      {"A", "k", "2", dir + "/no/such/dir/x.ini", "missing directory"},
      {"A", "k", "2", dir, "the path is a directory"},
      {"A", "k", "2\r\n[Injected]", file, "a value with a line break"},
      {"A\n", "k", "2", file, "a section with a line break"},
      {"A]", "k", "2", file, "a section with ']'"},
      {"A", "k=j", "2", file, "a key with '='"},
      {"A", "[k]", "2", file, "a key that would read back as a section"},
      {"A", "  [k", "2", file, "the same after trimming"},
      {"A", ";k", "2", file, "a key that would read back as a comment"},
      {nullptr, "k", "2", file, "no section"},
      {"A", "k", "2", "", "no file name"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value, c.path.c_str())) << c.note;
    EXPECT_EQ(read(), "[A]\r\nk=1\r\n") << c.note;
  }
  EXPECT_EQ(entries(), std::vector<std::string>{"plugin.ini"});

  // A read-only file stays as it is, as on Windows (even for root, who could write it).
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("A", nullptr, nullptr, file.c_str()));
  EXPECT_EQ(read(), "[A]\r\nk=1\r\n");
  EXPECT_EQ(get("A", "k"), "1");  // still readable
  chmod(file.c_str(), 0644);
}

TEST_F(ProfileTest, NamesListedIntoABufferFilledToTheLastByte) {
  // Names that fill the buffer to exactly size - 1 with another name to come: the list
  // is cut there, ends in two terminators and nothing is written past the buffer.
  write("[A]\nAB=1\nC=2\nDDDDDDDDDDDD=3\n[BC]\n[DDDDDDDDDDDD]\n");
  struct Case {
    const char* section;
    DWORD size;
    std::string expected;
    DWORD result;
    const char* note;
  };
  const Case cases[] = {
      {nullptr, 6, std::string("A\0BC\0\0", 6), 4, "sections fill 5 of 6 bytes, a third follows"},
      {"A", 6, std::string("AB\0C\0\0", 6), 4, "keys fill 5 of 6 bytes, a third follows"},
      {nullptr, 5, std::string("A\0B\0\0", 5), 3, "the second name cut"},
      {nullptr, 19, std::string("A\0BC\0DDDDDDDDDDDD\0\0", 19), 18, "all of it, exactly"},
  };
  for (const Case& c : cases) {
    char out[40];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(GetPrivateProfileStringA(c.section, nullptr, "", out, c.size, file.c_str()), c.result)
        << c.note;
    EXPECT_EQ(std::string(out, c.size), c.expected) << c.note;
    EXPECT_EQ(std::string(out + c.size, sizeof out - c.size), std::string(sizeof out - c.size, 'x'))
        << c.note << ": written past the buffer";
  }
}

TEST_F(ProfileTest, LineEndsAreKeptByteForByte) {
  // Mixed line ends, a CR inside a line, a CR before CR LF, no line end at the end.
  write("[A]\r\nk=1\nstray\rline\r\r\nlast=x");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  EXPECT_EQ(read(), "[A]\r\nk=2\nstray\rline\r\r\nlast=x");
  // An added line ends like the file's first line, and the last line gets an end.
  ASSERT_TRUE(WritePrivateProfileStringA("A", "new", "3", file.c_str()));
  EXPECT_EQ(read(), "[A]\r\nk=2\nstray\rline\r\r\nlast=x\r\nnew=3\r\n");
  EXPECT_EQ(get("A", "last"), "x");
  EXPECT_EQ(get("A", "new"), "3");
}

TEST_F(ProfileTest, AFifoOrADirectoryIsNoProfile) {
  // A FIFO that no one writes would block a plain open for ever.
  ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
  EXPECT_EQ(get("A", "k", "dflt"), "dflt");
  EXPECT_EQ(GetPrivateProfileIntA("A", "k", 7, file.c_str()), 7u);
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "1", file.c_str()));
  struct stat st;
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  unlink(file.c_str());
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  EXPECT_EQ(get("A", "k", "dflt"), "dflt");
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "1", file.c_str()));
  rmdir(file.c_str());
}

TEST_F(ProfileTest, WritersInParallelKeepEverySection) {
  // Writers in separate processes each save their own section, started together
  // through a pipe; when all are done, every key of every writer is there.
  constexpr int kWriters = 6, kKeys = 12;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) < 0) {
      }  // returns 0 once the parent closes its end
      bool ok = true;
      const std::string section = "W" + std::to_string(w);
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "k" + std::to_string(k), value = std::to_string(w * 100 + k);
        ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t child : children) {
    int status;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int missing = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string section = "W" + std::to_string(w), key = "k" + std::to_string(k);
      if (get(section.c_str(), key.c_str()) != std::to_string(w * 100 + k)) ++missing;
    }
  }
  EXPECT_EQ(missing, 0) << read();
  EXPECT_EQ(entries(), std::vector<std::string>{"plugin.ini"});
}

TEST_F(ProfileTest, AWriteRemovesWhatAKilledWriterLeft) {
  write("[A]\nk=1\n");
  // What a writer killed before its rename leaves, and files that only look alike.
  const char* stale = ".plugin.ini.tmp-a1B2c3";
  const char* keep[] = {"plugin.ini.backup", ".plugin.ini.tmp-toolong", ".other.ini.tmp-a1B2c3"};
  std::ofstream(dir + "/" + stale) << "half";
  for (const char* name : keep) std::ofstream(dir + "/" + name) << "mine";
  ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  std::vector<std::string> expected = {"plugin.ini"};
  for (const char* name : keep) expected.push_back(name);
  std::vector<std::string> now = entries();
  std::sort(now.begin(), now.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(now, expected);
}

TEST_F(ProfileTest, ReplacingKeepsThePermissions) {
  write("[A]\nk=1\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ProfileTest, AWriterKilledMidWayLeavesAWholeFile) {
  // A child process rewrites the file as fast as it can and is killed at some point;
  // whenever that is, the file must be one of the versions it wrote, never a mix.
  const std::string a(20000, 'a'), b(30000, 'b');
  ASSERT_TRUE(WritePrivateProfileStringA("S", "k", a.c_str(), file.c_str()));
  const std::string withA = read();
  ASSERT_TRUE(WritePrivateProfileStringA("S", "k", b.c_str(), file.c_str()));
  const std::string withB = read();
  for (int round = 0; round < 3; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        WritePrivateProfileStringA("S", "k", (i % 2 ? a : b).c_str(), file.c_str());
      }
    }
    usleep(20000 + round * 7000);
    kill(child, SIGKILL);
    int status;
    waitpid(child, &status, 0);
    const std::string now = read();
    EXPECT_TRUE(now == withA || now == withB) << "round " << round << ": " << now.size() << " bytes";
  }
  // The next write clears whatever temporary file a killed writer left.
  ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "c", file.c_str()));
  EXPECT_EQ(entries(), std::vector<std::string>{"plugin.ini"});
}

TEST_F(ProfileTest, WritesGoThroughSymbolicLinks) {
  // The real file lives in another folder (as a dotfile manager keeps it), and the
  // settings path is a link to it.
  char pattern[] = "/tmp/profile-target-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string other = pattern, real = other + "/real.ini", hop = other + "/hop.ini";
  const std::string before = "; mine\n[A]\nk=1\n";
  // the link's text, the hop between (if any), what the case is
  const struct { std::string link, hopTo; const char* note; } cases[] = {
      {real, "", "an absolute link into another folder"},
      {"../" + other.substr(5) + "/real.ini", "", "a relative link"},
      {hop, real, "a link to a link"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    std::ofstream(real, std::ios::binary | std::ios::trunc) << before;
    if (!c.hopTo.empty()) {
      ASSERT_EQ(symlink(c.hopTo.c_str(), hop.c_str()), 0);
    }
    ASSERT_EQ(symlink(c.link.c_str(), file.c_str()), 0);
    EXPECT_TRUE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("B", "j", "3", file.c_str()));
    // The link is still the same link; its target has the new keys, and kept the rest.
    char text[256] = {};
    EXPECT_EQ(readlink(file.c_str(), text, sizeof text - 1), (ssize_t)c.link.size());
    EXPECT_EQ(text, c.link);
    std::ifstream in(real, std::ios::binary);
    std::ostringstream now;
    now << in.rdbuf();
    EXPECT_EQ(now.str(), "; mine\n[A]\nk=2\n[B]\nj=3\n");
    EXPECT_EQ(get("B", "j"), "3");
    EXPECT_EQ(entries(), std::vector<std::string>{"plugin.ini"});  // no temporary here
    unlink(file.c_str());
    unlink(hop.c_str());
  }

  // A link that leads nowhere, and one into a folder with no write permission, fail
  // as a read-only file does, and change nothing.
  std::ofstream(real, std::ios::binary | std::ios::trunc) << before;
  ASSERT_EQ(symlink((other + "/gone.ini").c_str(), file.c_str()), 0);
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  struct stat st;
  EXPECT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(access((other + "/gone.ini").c_str(), F_OK), 0);
  unlink(file.c_str());
  ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
  ASSERT_EQ(chmod(other.c_str(), 0555), 0);
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", file.c_str()));
  EXPECT_EQ(get("A", "k"), "1");  // still readable
  chmod(other.c_str(), 0755);
  std::ifstream in(real, std::ios::binary);
  std::ostringstream now;
  now << in.rdbuf();
  EXPECT_EQ(now.str(), before);
  DIR* d = opendir(other.c_str());
  int names = 0;
  while (dirent* e = readdir(d)) names += e->d_name[0] != '.';
  closedir(d);
  EXPECT_EQ(names, 1);  // real.ini, and no temporary file
  unlink(real.c_str());
  rmdir(other.c_str());
}

namespace {
// How much the peak resident memory grows while `work` runs, in KiB. It runs in a child
// process, whose peak starts at what it shares with this one, so that what the test
// process did before (and its own peak) counts for nothing.
long peakGrowthKiB(const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    work();
    getrusage(RUSAGE_SELF, &after);
    const long growth = after.ru_maxrss - before.ru_maxrss;
    _exit(write(fds[1], &growth, sizeof growth) == sizeof growth ? 0 : 1);
  }
  close(fds[1]);
  long growth = -1;
  if (read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(fds[0]);
  int status;
  waitpid(child, &status, 0);
  return growth;
}
}  // namespace

TEST_F(ProfileTest, BlankLinesCostNoMemoryBeyondTheTextItself) {
  // 16.7 million empty lines, just under the largest file read as a profile: each call
  // holds the text once and nothing per line (a line of its own cost 64 bytes and more,
  // over a gigabyte for this file). The address sanitizer keeps freed buffers resident
  // in its quarantine, so each of the calls may leave its copy of the text behind there.
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kCopies = 6;
#else
  constexpr long kCopies = 2;
#endif
  const size_t lines = 16700000;
  const std::string blank(lines, '\n');
  write(blank);
  const long limitKiB = kCopies * (long)(lines / 1024) + 4096;
  const long growth = peakGrowthKiB([&] {
    char out[16];
    GetPrivateProfileStringA("A", "k", "none", out, sizeof out, file.c_str());
    WritePrivateProfileStringA("A", "k", "1", file.c_str());
    GetPrivateProfileStringA("A", "k", "none", out, sizeof out, file.c_str());
    GetPrivateProfileIntA("A", "k", 7, file.c_str());
  });
  ASSERT_GE(growth, 0);
  EXPECT_LE(growth, limitKiB) << "KiB over the text of " << lines / 1024 << " KiB";
  // The child's write kept every blank line, byte for byte.
  EXPECT_EQ(read(), blank + "[A]\nk=1\n");
  EXPECT_EQ(get("A", "k"), "1");
}

}  // namespace
