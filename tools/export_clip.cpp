// Runs one video export from the command line, as the editor's user export
// does (best-quality software settings unless --intermediate), for timing it
// beside other tools (bench/export_vs_cli.sh, bench/video_edits_vs_cli.sh):
//   build/korvelle_export_clip source output.webm [WIDTHxHEIGHT] [--intermediate]
//       [--encoder NAME] [--piece [FILE:]IN-OUT]...
// Pieces are in milliseconds on their file (the source when no file is
// named) and joined in order; none exports the whole source.
#include <cstdio>
#include <cstring>
#include <string>

#include "media/video_export.h"

namespace {

bool parsePiece(const char* text, media::Segment* out) {
  std::string s = text;
  const size_t colon = s.rfind(':');
  if (colon != std::string::npos) {
    out->path = s.substr(0, colon);
    s = s.substr(colon + 1);
  }
  return std::sscanf(s.c_str(), "%lf-%lf", &out->inMs, &out->outMs) == 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s source output [WIDTHxHEIGHT] [--intermediate] [--encoder NAME] "
                 "[--piece [FILE:]IN-OUT]...\n",
                 argv[0]);
    return 2;
  }
  media::ExportOptions o;
  o.fitMode = media::FitMode::Contain;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--intermediate") == 0) {
      o.intermediate = true;
    } else if (std::strcmp(argv[i], "--encoder") == 0 && i + 1 < argc) {
      o.encoder = argv[++i];
    } else if (std::strcmp(argv[i], "--piece") == 0 && i + 1 < argc) {
      media::Segment piece;
      if (!parsePiece(argv[++i], &piece)) {
        std::fprintf(stderr, "not a piece: %s\n", argv[i]);
        return 2;
      }
      o.segments.push_back(piece);
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
