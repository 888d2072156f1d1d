// document: the one open image or video and its versions.
//
// Placeholder for the document module: nothing can be opened yet, so the
// program always stays on its start screen.
#pragma once

#include <string>

#include "media/video.h"

namespace doc {

class Document {
 public:
  media::MediaKind kind = media::MediaKind::Unknown;  // Unknown: nothing open

  // The one document (created on first use, thread-safe).
  static Document& instance();
  // Opening fails with "NOT_AVAILABLE" until the document module lands.
  bool openImage(const std::string& path, std::string* err);
  bool openVideo(const std::string& path, std::string* err);
  // Empties the working directory (at exit).
  static void cleanWorkDir();
};

}  // namespace doc
