// PNG output through libpng: single snapshots and folders of numbered frames. Files are
// 8-bit RGB with no time stamp or other varying chunk, so equal pixels give equal bytes.
#pragma once

#include <string>

#include "output/frame_scale.h"
#include "output/frame_view.h"
#include "output/output_file.h"

// Writes the frame to path (directly; callers wanting all-or-nothing use PendingFile and
// pass the final name as shownAs, the name errors speak of: "<shownAs>: <reason>").
bool writePng(const std::string& path, const FrameView& frame, std::string* error,
              const std::string& shownAs = "");
// The same, the frame scaled up to the scaler's size row by row on the way.
bool writePng(const std::string& path, const FrameView& frame, FrameScaler& scaler,
              std::string* error, const std::string& shownAs = "");

// A folder of numbered frames, named by a pattern with one %d or %0Nd (by default
// frame_%06d.png: frame_000001.png onwards). The frames are written into a
// fresh staging folder inside it (hidden, same file system, made at the first frame) and
// moved into place by commit(), so a run that fails or is stopped leaves the folder as it
// was, an earlier run's frames included; until commit() the destructor removes the
// staging folder with everything in it. A staging folder that a killed run left (named
// for that run, ".frames.part-<pid>-XXXXXX") is removed by the next run on the folder.
//
// A folder that already holds frames of the pattern is refused unless ifExists is
// Replace, so that two runs never mix silently; when replacing, the frames of an earlier
// run beyond this run's last are removed at commit(), and other files are left alone.
class PngSequence {
 public:
  // `pattern` must hold exactly one %d or %0Nd and no other '%' (isFramesPattern).
  explicit PngSequence(std::string folder, std::string pattern = "frame_%06d.png");
  PngSequence(const PngSequence&) = delete;
  PngSequence& operator=(const PngSequence&) = delete;
  ~PngSequence() { discard(); }
  // Checks the folder: it exists, may be written, and holds no frames of the pattern
  // unless replacing.
  bool open(IfExists ifExists, std::string* error);
  bool write(const FrameView& frame, std::string* error);
  bool write(const FrameView& frame, FrameScaler& scaler, std::string* error);
  // Moves the frames into the folder (over same-named files of an earlier run only when
  // replacing).
  bool commit(std::string* error);
  int count() const { return next_ - 1; }
  long long bytes() const { return bytes_; }  // of the frames written

 private:
  void discard();
  void releaseStaging();
  std::string nameOf(int n) const;            // the pattern filled in
  bool isFrameName(const char* name, int* number) const;

  std::string folder_, staging_;
  int stagingLock_ = -1;  // held on the staging folder while it exists
  std::string pattern_;
  std::string prefix_, suffix_;  // the pattern around its number...
  int digits_ = 1;               // ...and the number's least width
  int next_ = 1;
  long long bytes_ = 0;
  IfExists ifExists_ = IfExists::Replace;
};
