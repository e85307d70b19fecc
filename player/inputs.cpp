// Folders and playlists into lists of files. A playlist is read as the players that
// write it do: one entry a line, '#' lines are comments or extended tags (#EXTINF), a
// UTF-8 byte order mark at the start is skipped, Windows line ends are tolerated, and
// a relative entry is relative to the playlist's folder. Backslashes stay as they are:
// on this system they are part of a name.
#include "inputs.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace {
// The formats FFmpeg reads that people keep music in. Video containers are left out:
// a folder of music videos is not what "the audio files of a folder" means.
const char* const kAudioExtensions[] = {
    "mp3", "mp2", "m4a", "m4b", "aac", "flac", "ogg", "oga", "opus", "wav", "wave",
    "aif", "aiff", "aifc", "wma", "wv", "ape", "mpc", "mka", "ac3", "dts", "tta",
    "spx", "caf", "au", "amr", "alac"};

bool isFolderPath(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  return folder + (folder.back() == '/' ? "" : "/") + name;
}

std::string folderPart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool listFolder(const std::string& folder, std::vector<std::string>* audio, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = folder + ": cannot read the folder: " + strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name[0] == '.' || !hasAudioExtension(name)) continue;  // hidden files too
    if (isFolderPath(join(folder, name))) continue;
    names.push_back(name);
  }
  closedir(dir);
  if (names.empty()) {
    *error = folder + ": no audio files in the folder";
    return false;
  }
  // strverscmp orders runs of digits by their value: "Track 2" before "Track 10".
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strverscmp(a.c_str(), b.c_str()) < 0;
  });
  for (const std::string& name : names) audio->push_back(join(folder, name));
  return true;
}

// "%20" and the like in a file:// URL.
std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isxdigit((unsigned char)text[i + 1]) &&
        isxdigit((unsigned char)text[i + 2])) {
      out += (char)strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool readPlaylist(const std::string& list, std::vector<std::string>* audio,
                  std::vector<std::string>* notes, std::string* error) {
  std::ifstream in(list, std::ios::binary);
  if (!in) {
    *error = list + (errno == ENOENT ? std::string(": no such file")
                                     : ": cannot read: " + std::string(strerror(errno)));
    return false;
  }
  const std::string folder = folderPart(list);
  std::string line;
  size_t before = audio->size();
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line.erase(0, start);
    if (line.compare(0, 7, "file://") == 0) {
      // file:///home/... or file://localhost/home/...
      std::string rest = line.substr(7);
      size_t slash = rest.find('/');
      line = slash == std::string::npos ? rest : percentDecoded(rest.substr(slash));
    } else if (line.find("://") != std::string::npos) {
      notes->push_back(list + ":" + std::to_string(number) + ": " + line +
                       ": skipped, only local files are read");
      continue;
    }
    audio->push_back(line[0] == '/' ? line : join(folder, line));
  }
  if (in.bad()) {
    *error = list + ": cannot read: " + strerror(errno);
    return false;
  }
  if (audio->size() == before) {
    *error = list + ": the playlist lists no files";
    return false;
  }
  return true;
}
}  // namespace

bool hasAudioExtension(const std::string& name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return false;
  const char* extension = name.c_str() + dot + 1;
  for (const char* known : kAudioExtensions) {
    if (strcasecmp(extension, known) == 0) return true;
  }
  return false;
}

bool isPlaylist(const std::string& path) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const char* extension = path.c_str() + dot + 1;
  return strcasecmp(extension, "m3u") == 0 || strcasecmp(extension, "m3u8") == 0;
}

std::string inputName(const std::string& path) {
  return path == "-" ? "standard input" : path;
}

bool expandInputs(const std::vector<std::string>& given, std::vector<std::string>* audio,
                  std::vector<std::string>* notes, std::string* error) {
  audio->clear();
  for (const std::string& input : given) {
    if (input != "-" && isFolderPath(input)) {
      if (!listFolder(input, audio, error)) return false;
    } else if (isPlaylist(input)) {
      if (!readPlaylist(input, audio, notes, error)) return false;
    } else {
      audio->push_back(input);
    }
  }
  return true;
}
