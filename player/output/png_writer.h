// PNG output through libpng: single snapshots and folders of numbered frames. Files are
// 8-bit RGB with no time stamp or other varying chunk, so equal pixels give equal bytes.
#pragma once

#include <string>

#include "output/frame_view.h"

// Writes the frame to path (directly; callers wanting all-or-nothing use PendingFile).
bool writePng(const std::string& path, const FrameView& frame, std::string* error);

// A folder of numbered frames, frame_000001.png onwards. The frames are written into a
// fresh staging folder inside it (hidden, same file system) and moved into place by
// commit(), so a run that fails or is stopped leaves the folder as it was, an earlier
// run's frames included; until commit() the destructor removes the staging folder with
// everything in it.
class PngSequence {
 public:
  explicit PngSequence(std::string folder) : folder_(std::move(folder)) {}
  PngSequence(const PngSequence&) = delete;
  PngSequence& operator=(const PngSequence&) = delete;
  ~PngSequence() { discard(); }
  bool write(const FrameView& frame, std::string* error);
  // Moves the frames into the folder, over same-named files of an earlier run.
  bool commit(std::string* error);
  int count() const { return next_ - 1; }

 private:
  std::string name(int index) const;  // "frame_000001.png"
  void discard();

  std::string folder_, staging_;
  int next_ = 1;
};
