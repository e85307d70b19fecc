// Seeds for ini_fuzz: settings files as people and programs write them (CR LF, LF,
// mixed ends, a byte-order mark, comments, blank lines, quotes, repeated and unclosed
// sections, no line end at the end), with the plug-in's own saves and reads, key and
// section deletions, name lists into buffers just too small, a read-only file and a
// FIFO. Usage: ini_seeds OUTPUT_FOLDER.
#include <string>

#include "fuzz_input.h"

namespace {

enum Call { kWrite, kGet, kListSections, kListKeys, kGetInt, kReadOnly, kReplace, kFifo };

void write(FuzzOutput& o, const std::string& s, const std::string& k, const std::string& v,
           uint8_t nulls = 0) {
  o.u8(kWrite).text(s).text(k).text(v).u8(nulls);
}
void get(FuzzOutput& o, const std::string& s, const std::string& k, uint16_t size) {
  o.u8(kGet).text(s).text(k).u16(size);
}
void list(FuzzOutput& o, bool keys, const std::string& s, uint16_t size) {
  o.u8(keys ? kListKeys : kListSections).u8(keys).text(s).u16(size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: ini_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string files[] = {
      "",
      "[Zarvenn]\r\nScreen_x=50\r\nScreen_y=50\r\n[Pellox]\r\nScreen_x=-3\r\nScreen_y=2147483647\r\n",
      "[A]\nk=1\nk2=2\n\n[B]\nx=1\n",
      "\xEF\xBB\xBF; comment\r\n\r\n[General]\r\n  Volume = 80  \r\nq=\"quoted \"\r\nsq='s'\r\n[Last]\r\nk=v",
      "[A]\r\nk=1\nstray\rline\r\r\n[a]\r\nk=second\r\n[unclosed\r\nx=y\r\n=empty key\r\nno equals\r\n",
      "stray=before\n[ Spaced ]\n dup = 1 \ndup=2\n;k=commented\n[[odd]]\n[;semi]\nv=0x10\n",
  };
  bool ok = true;
  int n = 0;
  for (const std::string& text : files) {
    const std::string name = "file" + std::to_string(n++);
    FuzzOutput saves;  // the plug-in's own use: read both keys, write both keys
    saves.u8(1).text(text);
    for (const char* module : {"Zarvenn", "Pellox", "Ambrith", "Tovanel"}) {
      saves.u8(kGetInt).text(module).text("Screen_x").i32(50);
      saves.u8(kGetInt).text(module).text("Screen_y").i32(50);
      write(saves, module, "Screen_x", "2147483647");
      write(saves, module, "Screen_y", "-2147483648");
    }
    ok = saves.save(dir, name + "-saves") && ok;

    FuzzOutput edits;  // edits, deletions and lists into small buffers
    edits.u8(1).text(text);
    write(edits, "A", "k", "  'padded'  ");
    write(edits, "new section", " spaced key ", "v=w");
    write(edits, "A", "[k]", "section-like key");
    write(edits, "A", ";k", "comment-like key");
    write(edits, "A", "k", "", 4);   // delete a key
    write(edits, "B", "", "", 2);    // delete a section
    for (uint16_t size : {0, 1, 2, 3, 4, 5, 6, 7, 8, 16}) {
      list(edits, false, "", size);
      list(edits, true, "A", size);
      get(edits, "A", "k2", size);
    }
    ok = edits.save(dir, name + "-edits") && ok;

    FuzzOutput special;  // read-only, replaced, a FIFO
    special.u8(1).text(text);
    special.u8(kReadOnly);
    write(special, "A", "k", "refused");
    special.u8(kReadOnly);
    write(special, "A", "k", "accepted");
    special.u8(kReplace).text("[A]\r\nk=1\nj=2");
    write(special, "A", "j", "3");
    special.u8(kFifo);
    special.u8(kReplace).text(text);
    write(special, "Tovanel", "Screen_x", "7");
    ok = special.save(dir, name + "-special") && ok;
  }
  return ok ? 0 : 1;
}
