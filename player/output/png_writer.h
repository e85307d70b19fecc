// PNG output through libpng: single snapshots and folders of numbered frames. Files are
// 8-bit RGB with no time stamp or other varying chunk, so equal pixels give equal bytes.
#pragma once

#include <string>
#include <vector>

#include "output/frame_view.h"

// Writes the frame to path (directly; callers wanting all-or-nothing use PendingFile).
bool writePng(const std::string& path, const FrameView& frame, std::string* error);

// A folder of numbered frames, frame_000001.png onwards. Each frame appears whole (temp
// name, then rename); until commit() the destructor removes every frame it wrote.
class PngSequence {
 public:
  explicit PngSequence(std::string folder) : folder_(std::move(folder)) {}
  PngSequence(const PngSequence&) = delete;
  PngSequence& operator=(const PngSequence&) = delete;
  ~PngSequence();
  bool write(const FrameView& frame, std::string* error);
  void commit() { written_.clear(); }
  int count() const { return next_ - 1; }

 private:
  std::string folder_;
  std::vector<std::string> written_;
  int next_ = 1;
};
