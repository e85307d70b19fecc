// visdiff ORACLE.bin OURS.bin [PNG-PREFIX]: compares two pixel dump files image by image,
// prints the count of differing pixels and the first few of each image, and, given a
// prefix, writes PREFIX-N.png marking the differences of every image that differs.
// Exit status: 0 all identical, 1 some differ, 2 bad input.
#include <stdio.h>

#include "visdiff.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: visdiff ORACLE.bin OURS.bin [PNG-PREFIX]\n");
    return 2;
  }
  std::vector<visdiff::Image> oracle, ours;
  std::string error;
  if (!visdiff::readDumpFile(argv[1], &oracle, &error) ||
      !visdiff::readDumpFile(argv[2], &ours, &error)) {
    fprintf(stderr, "visdiff: %s\n", error.c_str());
    return 2;
  }
  if (oracle.size() != ours.size()) {
    fprintf(stderr, "visdiff: %zu images against %zu\n", oracle.size(), ours.size());
    return 2;
  }
  int status = 0;
  for (size_t i = 0; i < oracle.size(); ++i) {
    const visdiff::Diff diff = visdiff::diffImages(oracle[i], ours[i]);
    if (diff.count < 0) {
      fprintf(stderr, "visdiff: image %zu: sizes differ\n", i);
      return 2;
    }
    printf("image %zu (%dx%d): %ld differing pixels\n%s", i, oracle[i].width, oracle[i].height,
           diff.count, visdiff::describe(diff).c_str());
    if (diff.count == 0) continue;
    status = 1;
    if (argc == 4) {
      const std::string png = std::string(argv[3]) + "-" + std::to_string(i) + ".png";
      if (!visdiff::writeDiffPng(png, oracle[i], ours[i], &error)) {
        fprintf(stderr, "visdiff: %s\n", error.c_str());
        return 2;
      }
    }
  }
  return status;
}
