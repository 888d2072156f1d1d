// Runs one video export from the command line, as the editor's user export
// does (best-quality software settings unless --intermediate), for timing it
// beside other tools (bench/export_vs_cli.sh):
//   build/korvelle_export_clip source output.webm [WIDTHxHEIGHT] [--intermediate]
#include <cstdio>
#include <cstring>
#include <string>

#include "media/video_export.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s source output [WIDTHxHEIGHT] [--intermediate]\n", argv[0]);
    return 2;
  }
  media::ExportOptions o;
  o.fitMode = media::FitMode::Contain;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--intermediate") == 0) {
      o.intermediate = true;
    } else if (std::sscanf(argv[i], "%dx%d", &o.width, &o.height) != 2) {
      std::fprintf(stderr, "not a size: %s\n", argv[i]);
      return 2;
    }
  }
  std::string err;
  if (!media::exportVideo(argv[1], argv[2], o, nullptr, {}, &err)) {
    std::fprintf(stderr, "export failed: %s\n", err.c_str());
    return 1;
  }
  return 0;
}
