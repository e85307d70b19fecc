// What the user names as AUDIO, made into the list of audio to read: a folder becomes
// its audio files, a playlist (.m3u, .m3u8) its entries, and anything else (a file,
// "-" for standard input, a pipe) stays as given, for the decoder to judge. Nothing is
// decoded here; a name that does not exist is left for the decoder's own message.
#pragma once

#include <string>
#include <vector>

// Expands `given` in order into *audio. A folder gives the audio files directly in it
// (by extension; not its sub-folders), sorted as people number tracks ("2" before
// "10"); a playlist gives its entries, relative to its own folder, skipping comments,
// blank lines and entries that are no local file (a note each in *notes). A folder with
// no audio or a playlist that cannot be read or lists nothing is an error.
bool expandInputs(const std::vector<std::string>& given, std::vector<std::string>* audio,
                  std::vector<std::string>* notes, std::string* error);

// Whether a name is a playlist, by its extension (.m3u, .m3u8, any case).
bool isPlaylist(const std::string& path);
// Whether a file name has the extension of an audio format (.mp3, .flac, .ogg...).
bool hasAudioExtension(const std::string& name);

// An input as messages call it: "standard input" for "-", else the name itself.
std::string inputName(const std::string& path);
