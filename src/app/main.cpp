// main: the life of the process. Informational options answer without a
// window; the interactive run is built by the app shell.
#include <cstdio>
#include <cstring>

#include "media/video.h"
#include "platform/product.h"

namespace {

void printUsage() {
  std::printf(
      "%s %s\n"
      "  <datei>       Bild oder Video gleich oeffnen\n"
      "  --version     Version ausgeben\n"
      "  --encoders    zeigen, welche Encoder diese Maschine hergibt\n"
      "  --fullscreen  im Vollbild starten\n"
      "  --windowed    im Fenster starten\n"
      "  --size BxH    mit dieser Fenstergroesse starten\n",
      product::kName, product::kVersion);
}

// One line per encoder that opens on this machine, graphics card first.
void printEncoders() {
  for (const media::EncoderInfo& e : media::availableEncoders()) {
    std::printf("%-14s %-24s %s\n", e.name.c_str(), e.device.c_str(),
                e.hardware ? "Grafikkarte" : "Software");
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s (Build %d)\n", product::kName, product::kVersion, product::kBuild);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      printUsage();
      return 0;
    }
    if (std::strcmp(argv[i], "--encoders") == 0) {
      printEncoders();
      return 0;
    }
    if (std::strcmp(argv[i], "--size") == 0) ++i;
  }
  printUsage();
  return 0;
}
