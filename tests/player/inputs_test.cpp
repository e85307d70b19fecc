// What the user names as AUDIO, expanded: folders into their audio files in track
// order, playlists into their entries as the players that write them mean them.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"
#include "inputs.h"

namespace {
void touch(const std::string& path) { std::ofstream(path) << "x"; }
}  // namespace

TEST(Inputs, AFolderGivesItsAudioFilesInTrackOrder) {
  ScratchDir dir;
  const std::string album = dir.file("album");
  mkdir(album.c_str(), 0755);
  mkdir((album + "/bonus.flac").c_str(), 0755);  // a folder named like audio: not a file
  mkdir((album + "/disc 2").c_str(), 0755);      // sub-folders are not entered
  touch(album + "/disc 2/1 deep.mp3");
  // Track numbers as people write them: 10 after 9, whatever the case of the extension.
  for (const char* name : {"10 Ten.mp3", "9 Nine.FLAC", "1 One.ogg", "2 Two.opus", "cover.jpg",
                           "notes.txt", ".hidden.mp3", "album.m3u", "noextension"}) {
    touch(album + "/" + name);
  }
  std::vector<std::string> audio, notes;
  std::string error;
  ASSERT_TRUE(expandInputs({album, dir.file("loose.wav"), "-"}, &audio, &notes, &error)) << error;
  EXPECT_EQ(audio, (std::vector<std::string>{album + "/1 One.ogg", album + "/2 Two.opus",
                                             album + "/9 Nine.FLAC", album + "/10 Ten.mp3",
                                             // not there: left for the decoder to say so
                                             dir.file("loose.wav"), "-"}));
  EXPECT_TRUE(notes.empty());
  // A folder with nothing to play is an error naming it.
  EXPECT_FALSE(expandInputs({album + "/disc 2/.."}, &audio, &notes, &error) &&
               expandInputs({dir.file("album/bonus.flac")}, &audio, &notes, &error));
  EXPECT_EQ(error, dir.file("album/bonus.flac") + ": no audio files in the folder");
}

TEST(Inputs, APlaylistGivesItsEntriesRelativeToItsOwnFolder) {
  ScratchDir dir;
  mkdir(dir.file("lists").c_str(), 0755);
  // A UTF-8 mark, Windows line ends, #EXTM3U tags, blank lines, an indented entry, a
  // file:// URL with an escaped space, a stream URL (skipped with a note).
  std::ofstream(dir.file("lists/mix.m3u8"), std::ios::binary)
      << "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n../music/a.flac\r\n\r\n"
         "  b.mp3\r\n/abs/c.ogg\r\nfile:///srv/my%20music/d.wav\r\n"
         "file://localhost/e.opus\r\nhttp://radio.example/stream\r\n";
  std::ofstream(dir.file("empty.M3U")) << "#EXTM3U\n# nothing but comments\n\n";
  std::vector<std::string> audio, notes;
  std::string error;
  ASSERT_TRUE(expandInputs({dir.file("lists/mix.m3u8")}, &audio, &notes, &error)) << error;
  EXPECT_EQ(audio, (std::vector<std::string>{dir.file("lists/../music/a.flac"),
                                             dir.file("lists/b.mp3"), "/abs/c.ogg",
                                             "/srv/my music/d.wav", "/e.opus"}));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], dir.file("lists/mix.m3u8") +
                          ":9: http://radio.example/stream: skipped, only local files are read");
  // input, the error
  const struct { std::string path; std::string says; } bad[] = {
      {dir.file("empty.M3U"), ": the playlist lists no files"},
      {dir.file("gone.m3u"), ": no such file"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(expandInputs({c.path}, &audio, &notes, &error));
    EXPECT_EQ(error, c.path + c.says);
  }
  EXPECT_TRUE(isPlaylist("x.M3U8"));
  EXPECT_FALSE(isPlaylist("m3u.d/x"));
  EXPECT_FALSE(isPlaylist("x.m3u.flac"));
}
