// Placeholder for the document module (see document.h).
#include "editor/document.h"

namespace doc {

Document& Document::instance() {
  static Document d;
  return d;
}

bool Document::openImage(const std::string&, std::string* err) {
  if (err) *err = "NOT_AVAILABLE";
  return false;
}

bool Document::openVideo(const std::string&, std::string* err) {
  if (err) *err = "NOT_AVAILABLE";
  return false;
}

void Document::cleanWorkDir() {}

}  // namespace doc
