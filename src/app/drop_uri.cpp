#include "app/drop_uri.h"

namespace ui {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string decodeDroppedFile(const std::string& text) {
  std::string out;
  if (text.size() >= 7 && text.compare(0, 7, "file://") == 0) {
    out.reserve(text.size() - 7);
    for (size_t i = 7; i < text.size(); ++i) {
      if (text[i] == '%' && i + 2 < text.size()) {
        int hi = hexValue(text[i + 1]);
        int lo = hexValue(text[i + 2]);
        if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
          out.push_back(static_cast<char>(hi * 16 + lo));
          i += 2;
          continue;
        }
      }
      out.push_back(text[i]);
    }
  } else {
    out = text;
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace ui
