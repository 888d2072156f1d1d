#include "app/drop_uri.h"

#include "platform/uri.h"

namespace ui {

namespace {

void trimLineBreaks(std::string* s) {
  while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
}

}  // namespace

std::string decodeDroppedFile(const std::string& text) {
  std::string out = text;
  trimLineBreaks(&out);
  if (out.rfind("file:", 0) != 0) return out;
  out = platform::localPathFromUri(out);
  trimLineBreaks(&out);  // escaped line breaks at the end go too
  return out;
}

}  // namespace ui
