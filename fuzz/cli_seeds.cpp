// Seeds for cli_fuzz: command lines of every command with every option, times in each
// notation, sizes at and past their bounds, and lines the parser refuses. Each is
// written as its arguments separated by NUL bytes (the program's name left out).
// Usage: cli_seeds OUTPUT_FOLDER.
#include <stdio.h>

#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: cli_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::vector<std::vector<std::string>> lines = {
      {"render", "song.flac", "-m", "Pellox", "-o", "x.mp4", "--size", "320x240", "--seed",
       "42", "--from", "1:00", "--duration", "10"},
      {"render", "-m", "0", "-o", "shot.png", "--at", "1:02:03.25", "--plugin", "./p.so"},
      {"render", "a.wav", "--module", "Zarvenn", "--output", "frames/", "--duration", "7s"},
      {"render", "-m", "Tovanel", "-o", "/dev/null", "--size", "8192x8192", "--from", "0"},
      {"render", "-m", "1", "-o", "f/%06d.png", "--size", "3840x2160", "--scale", "auto",
       "--scale-filter", "smooth", "-q"},
      {"render", "a.wav", "b.wav", "-m", "2", "-o", "v/", "--format", "mkv", "--fps",
       "30000/1001", "--scale", "3", "-v"},
      {"render", "-m", "2", "-o", "x.mp4", "--fps", "29.97", "--scale", "33"},
      {"render", "-m", "P", "-o", "x.gif", "--size", "8193x1", "--duration", "0"},
      {"render", "-m", "P", "-o", "x.mkv", "--duration", "100:00:00", "--seed",
       "18446744073709551615"},
      {"play", "-m", "Ambrith", "--capture", "Monitor of Speakers", "--size", "64x64"},
      {"play", "song.opus", "-m", "2", "--from", "59.5", "--capture"},
      {"play", "-m", "1", "--capture", "--", "-"},
      {"list", "--plugin", "vis.so"},
      {"devices"},
      {"tune", "t.wav", "--duration", "10:00"},
      {"tune", "t.WAV", "--duration", "1e15"},
      {"help"},
      {"render", "--help"},
      {"render", "-m"},
      {"draw", "-x"},
  };
  int failed = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string bytes;
    for (size_t j = 0; j < lines[i].size(); ++j) {
      if (j) bytes.push_back('\0');
      bytes += lines[i][j];
    }
    std::string path = std::string(argv[1]) + "/line" + std::to_string(i);
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) ok = fclose(f) == 0 && ok;
    if (!ok) {
      fprintf(stderr, "cli_seeds: cannot write %s\n", path.c_str());
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
