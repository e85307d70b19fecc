#include "output/png_writer.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>  // O_DIRECTORY
#include <png.h>
#include <stdio.h>
#include <stdlib.h>  // mkdtemp
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "base/files.h"  // writeError, holdAsOwner, removeDeadLeftovers

namespace {
struct PngTarget {
  FILE* file = nullptr;
  std::string message;  // libpng's own text, for failures that are not the system's
  int writeErrno = 0;   // the system's reason when a write failed
};

void onPngError(png_structp png, png_const_charp message) {
  static_cast<PngTarget*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

// Our own write function, so that a failed write keeps errno ("No space left on
// device") rather than libpng's bare "Write Error".
void onPngWrite(png_structp png, png_bytep data, png_size_t size) {
  PngTarget* target = static_cast<PngTarget*>(png_get_io_ptr(png));
  if (fwrite(data, 1, size, target->file) != size) {
    target->writeErrno = errno ? errno : EIO;
    png_error(png, "write failed");
  }
}
void onPngFlush(png_structp) {}

// libpng's part, apart from the names: after a longjmp only plain locals are trusted.
bool encodePng(PngTarget* target, const FrameView& frame, FrameScaler& scaler) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, target, onPngError,
                                            onPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    target->message = "libpng could not start";
    return false;
  }
  const int width = scaler.width(), height = scaler.height();
  std::vector<png_byte> row((size_t)width * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, target, onPngWrite, onPngFlush);
  // Frames are written by the thousand; a fast level keeps a folder of frames cheap.
  png_set_compression_level(png, 3);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    int count;
    const uint32_t* in = scaler.rows(frame, y, &count);
    png_byte* out = row.data();
    for (int x = 0; x < width; ++x) {
      uint32_t c = in[x];
      out[x * 3] = (png_byte)(c >> 16);
      out[x * 3 + 1] = (png_byte)(c >> 8);
      out[x * 3 + 2] = (png_byte)c;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
}  // namespace

bool writePng(const std::string& path, const FrameView& frame, std::string* error,
              const std::string& shownAs) {
  FrameScaler asDrawn;
  asDrawn.setUp(frame.width, frame.height, 1, ScaleFilter::Nearest);
  return writePng(path, frame, asDrawn, error, shownAs);
}

bool writePng(const std::string& path, const FrameView& frame, FrameScaler& scaler,
              std::string* error, const std::string& shownAs) {
  const std::string& name = shownAs.empty() ? path : shownAs;
  PngTarget target;
  target.file = fopen(path.c_str(), "wb");
  if (!target.file) {
    *error = name + ": cannot be written: " + strerror(errno);
    return false;
  }
  if (!encodePng(&target, frame, scaler)) {
    fclose(target.file);
    *error = target.writeErrno ? writeError(name, target.writeErrno)
                               : name + ": cannot write PNG: " + target.message;
    return false;
  }
  // The buffered tail is written here: a full disk may only show now.
  errno = 0;
  bool flushed = fflush(target.file) == 0;
  int flushErrno = errno;
  if (fclose(target.file) != 0 || !flushed) {
    *error = writeError(name, flushed ? errno : flushErrno);
    return false;
  }
  return true;
}

namespace {
// ".frames.part-<pid>-XXXXXX": a run's staging folder, named for its owner.
const char kStagingPrefix[] = ".frames.part-";
}  // namespace

PngSequence::PngSequence(std::string folder, std::string pattern)
    : folder_(std::move(folder)), pattern_(pattern) {
  // The pattern was checked to be prefix, %d or %0Nd, suffix.
  size_t percent = pattern.find('%');
  size_t d = pattern.find('d', percent);
  prefix_ = pattern.substr(0, percent);
  suffix_ = pattern.substr(d + 1);
  digits_ = d > percent + 2 ? pattern[d - 1] - '0' : 1;
}

std::string PngSequence::nameOf(int n) const {
  char number[32];
  snprintf(number, sizeof number, "%0*d", digits_, n);
  return prefix_ + number + suffix_;
}

// The prefix, at least the pattern's width of digits (more once the numbers outgrow
// it), the suffix.
bool PngSequence::isFrameName(const char* name, int* number) const {
  if (strncmp(name, prefix_.c_str(), prefix_.size()) != 0) return false;
  const char* p = name + prefix_.size();
  int digits = 0;
  while (*p >= '0' && *p <= '9') ++p, ++digits;
  if (digits < digits_ || digits > 9 || strcmp(p, suffix_.c_str()) != 0) return false;
  *number = atoi(name + prefix_.size());
  return true;
}

bool PngSequence::open(IfExists ifExists, std::string* error) {
  if (!checkWritableFolder(folder_, error)) return false;
  // A killed run's staging folder is no frame of anyone's: it goes before the folder is
  // judged empty.
  removeDeadLeftovers(folder_, kStagingPrefix, "-*");
  ifExists_ = ifExists;
  if (ifExists == IfExists::Replace) return true;
  DIR* dir = opendir(folder_.c_str());
  if (!dir) {
    *error = writeError(folder_, errno);
    return false;
  }
  bool found = false;
  int number;
  while (struct dirent* entry = readdir(dir)) {
    if (isFrameName(entry->d_name, &number)) {
      found = true;
      break;
    }
  }
  closedir(dir);
  if (found) {
    *error = folder_ + ": already holds frames named " + pattern_ + " (-y replaces them)";
    return false;
  }
  return true;
}

bool PngSequence::write(const FrameView& frame, FrameScaler& scaler, std::string* error) {
  if (staging_.empty()) {
    std::string pattern = folder_ + "/" + kStagingPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      *error = writeError(folder_, errno);
      return false;
    }
    staging_ = pattern;
    stagingLock_ = holdAsOwner(staging_, O_DIRECTORY);
  }
  std::string path = staging_ + "/" + nameOf(next_);
  std::string shownAs = folder_ + (folder_.back() == '/' ? "" : "/") + nameOf(next_);
  if (!writePng(path, frame, scaler, error, shownAs)) {
    unlink(path.c_str());
    return false;
  }
  struct stat info;
  if (stat(path.c_str(), &info) == 0) bytes_ += info.st_size;
  ++next_;
  return true;
}

bool PngSequence::commit(std::string* error) {
  std::string slash = folder_.back() == '/' ? "" : "/";
  for (int i = 1; i < next_; ++i) {
    std::string from = staging_ + "/" + nameOf(i), to = folder_ + slash + nameOf(i);
    // Without -y a frame that appeared in the meantime is never replaced: link() refuses
    // an existing name where rename() would not.
    bool moved = ifExists_ == IfExists::Replace
                     ? rename(from.c_str(), to.c_str()) == 0
                     : link(from.c_str(), to.c_str()) == 0 && unlink(from.c_str()) == 0;
    if (!moved) {
      *error = errno == EEXIST ? to + ": already exists (-y replaces it)" : writeError(to, errno);
      if (ifExists_ != IfExists::Replace) {
        // The frames moved so far are this run's own: take them back out.
        for (int j = 1; j < i; ++j) unlink((folder_ + slash + nameOf(j)).c_str());
      }
      return false;
    }
  }
  if (!staging_.empty()) rmdir(staging_.c_str());
  staging_.clear();
  releaseStaging();
  if (ifExists_ != IfExists::Replace) return true;
  // Frames of an earlier, longer run would otherwise follow this run's last frame.
  DIR* dir = opendir(folder_.c_str());
  if (!dir) return true;
  std::vector<std::string> stale;
  while (struct dirent* entry = readdir(dir)) {
    int number;
    if (isFrameName(entry->d_name, &number) && number >= next_) {
      stale.push_back(folder_ + slash + entry->d_name);
    }
  }
  closedir(dir);
  for (const std::string& path : stale) unlink(path.c_str());
  return true;
}

bool PngSequence::write(const FrameView& frame, std::string* error) {
  FrameScaler asDrawn;
  asDrawn.setUp(frame.width, frame.height, 1, ScaleFilter::Nearest);
  return write(frame, asDrawn, error);
}

void PngSequence::discard() {
  if (staging_.empty()) return;
  for (int i = 1; i < next_; ++i) unlink((staging_ + "/" + nameOf(i)).c_str());
  rmdir(staging_.c_str());
  staging_.clear();
  releaseStaging();
}

void PngSequence::releaseStaging() {
  if (stagingLock_ >= 0) close(stagingLock_);
  stagingLock_ = -1;
}
