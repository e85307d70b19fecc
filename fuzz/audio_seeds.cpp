// Seeds for audio_fuzz: tenth-of-a-second files of every kind the player reads, made
// by the ffmpeg program from its own test sources (a sine, noise, silence): WAV in
// several sample formats and channel counts, FLAC, MP3, Opus, Vorbis, AAC (M4A and
// ADTS), ALAC, WMA, AC-3, MP2, AIFF, Sun AU, CAF, Matroska, and a video with sound.
// Small on purpose: libFuzzer mutates short inputs much faster. Also the findings of
// earlier runs, kept as seeds so that every run tries them again.
// Usage: audio_seeds OUTPUT_FOLDER (ffmpeg on the PATH).
#include <stdio.h>
#include <stdlib.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: audio_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  const char* sine = "-f lavfi -i sine=f=440:r=44100:d=0.1";
  const char* noise = "-f lavfi -i anoisesrc=r=48000:d=0.1";
  // file name, input, codec and format options
  const struct { const char* name; const char* input; const char* options; } files[] = {
      {"s16.wav", sine, "-c:a pcm_s16le"},
      {"f32-stereo.wav", noise, "-ac 2 -c:a pcm_f32le"},
      {"u8-mono.wav", sine, "-c:a pcm_u8"},
      {"s24-51.wav", noise, "-af 'pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0' -c:a pcm_s24le"},
      {"x.flac", noise, "-c:a flac"},
      {"x.mp3", sine, "-c:a libmp3lame -b:a 32k"},
      {"x.opus", noise, "-c:a libopus -b:a 16k"},
      {"x.ogg", sine, "-c:a libvorbis"},
      {"x.m4a", sine, "-c:a aac -b:a 32k"},
      {"x.aac", sine, "-c:a aac -b:a 32k -f adts"},
      {"alac.m4a", sine, "-c:a alac"},
      {"x.wma", sine, "-c:a wmav2 -b:a 32k"},
      {"x.ac3", noise, "-c:a ac3 -b:a 64k"},
      {"x.mp2", sine, "-c:a mp2 -b:a 32k"},
      {"x.aiff", sine, "-c:a pcm_s16be"},
      {"x.au", sine, "-c:a pcm_mulaw"},
      {"x.caf", sine, "-c:a pcm_s16le"},
      {"x.mka", sine, "-c:a flac"},
      {"video.mkv", "-f lavfi -i sine=f=440:r=8000:d=0.1 -f lavfi -i color=s=16x16:d=0.1:r=10",
       "-c:a pcm_s16le -c:v ffv1"},
  };
  int failed = 0;
  for (const auto& f : files) {
    std::string command = std::string("ffmpeg -nostdin -v error -y ") + f.input + " " +
                          f.options + " '" + dir + "/" + f.name + "'";
    if (system(command.c_str()) != 0) {
      fprintf(stderr, "audio_seeds: ffmpeg could not make %s\n", f.name);
      ++failed;
    }
  }
  // A WAV whose LIST chunk states nearly 4 GB: FFmpeg once allocated 1.7 GB for it.
  static const char huge[] =
      "RIFF\x80\x11\0\0WAVEfmt \x10\0\0\0\x01\x04\x01\0\x44\xac\0\0\x44\xac\0\0\x01\0\x08\0"
      "LIST\x1a\0\0\xf7INFOISFT\x0e\0\0\0Lavf59.27.100\0dat':use\x80\x81\x81\x82\x83\x84"
      ".snd\0\0\0 \0\0\x11:\0\0\0\x01\0\0\xac\x44\0\0\0\x01\0\0\0\0\0\x85";
  FILE* f = fopen((dir + "/huge-list-chunk.wav").c_str(), "wb");
  bool ok = f && fwrite(huge, 1, sizeof huge - 1, f) == sizeof huge - 1;
  if (f) ok = fclose(f) == 0 && ok;
  if (!ok) {
    fprintf(stderr, "audio_seeds: cannot write huge-list-chunk.wav\n");
    ++failed;
  }
  return failed ? 1 : 0;
}
