// PNG output through libpng: single snapshots and folders of numbered frames. Files are
// 8-bit RGB with no time stamp or other varying chunk, so equal pixels give equal bytes.
#pragma once

#include <string>

#include "output/frame_view.h"
#include "output/output_file.h"

// Writes the frame to path (directly; callers wanting all-or-nothing use PendingFile and
// pass the final name as shownAs, the name errors speak of: "<shownAs>: <reason>").
bool writePng(const std::string& path, const FrameView& frame, std::string* error,
              const std::string& shownAs = "");

// A folder of numbered frames, frame_000001.png onwards. The frames are written into a
// fresh staging folder inside it (hidden, same file system, made at the first frame) and
// moved into place by commit(), so a run that fails or is stopped leaves the folder as it
// was, an earlier run's frames included; until commit() the destructor removes the
// staging folder with everything in it. A staging folder that a killed run left (named
// for that run, ".frames.part-<pid>-XXXXXX") is removed by the next run on the folder.
//
// A folder that already holds anything is refused unless ifExists is Replace, so that
// two runs never mix silently; when replacing, the frames of an earlier run beyond this
// run's last are removed at commit(), and other files are left alone.
class PngSequence {
 public:
  explicit PngSequence(std::string folder) : folder_(std::move(folder)) {}
  PngSequence(const PngSequence&) = delete;
  PngSequence& operator=(const PngSequence&) = delete;
  ~PngSequence() { discard(); }
  // Checks the folder: it exists, may be written, and is empty unless replacing.
  bool open(IfExists ifExists, std::string* error);
  bool write(const FrameView& frame, std::string* error);
  // Moves the frames into the folder (over same-named files of an earlier run only when
  // replacing).
  bool commit(std::string* error);
  int count() const { return next_ - 1; }
  long long bytes() const { return bytes_; }  // of the frames written

 private:
  void discard();
  void releaseStaging();

  std::string folder_, staging_;
  int stagingLock_ = -1;  // held on the staging folder while it exists
  int next_ = 1;
  long long bytes_ = 0;
  IfExists ifExists_ = IfExists::Replace;
};

// "frame_000012.png": the name of frame number n (from 1) in a folder of frames.
std::string frameFileName(int n);
