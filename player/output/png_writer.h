// PNG output through libpng: single snapshots and folders of numbered frames. Files are
// 8-bit RGB with no time stamp or other varying chunk, so equal pixels give equal bytes.
#pragma once

#include <string>
#include <vector>

#include "output/frame_view.h"
#include "output/output_file.h"

// Writes the frame to path (directly; callers wanting all-or-nothing use PendingFile and
// pass the final name as shownAs, the name errors speak of: "<shownAs>: <reason>").
bool writePng(const std::string& path, const FrameView& frame, std::string* error,
              const std::string& shownAs = "");

// A folder of numbered frames, frame_000001.png onwards. Each frame appears whole (temp
// name, then rename); until commit() the destructor removes every frame it wrote.
//
// A folder that already holds anything is refused unless ifExists is Replace, so that
// two runs never mix silently; when replacing, the frames of an earlier run beyond this
// run's last are removed at commit(), and other files are left alone.
class PngSequence {
 public:
  explicit PngSequence(std::string folder) : folder_(std::move(folder)) {}
  PngSequence(const PngSequence&) = delete;
  PngSequence& operator=(const PngSequence&) = delete;
  ~PngSequence();
  // Checks the folder: it exists, may be written, and is empty unless replacing.
  bool open(IfExists ifExists, std::string* error);
  bool write(const FrameView& frame, std::string* error);
  void commit();
  int count() const { return next_ - 1; }
  long long bytes() const { return bytes_; }  // of the frames written

 private:
  std::string folder_;
  std::vector<std::string> written_;
  int next_ = 1;
  long long bytes_ = 0;
  IfExists ifExists_ = IfExists::Replace;
};

// "frame_000012.png": the name of frame number n (from 1) in a folder of frames.
std::string frameFileName(int n);
