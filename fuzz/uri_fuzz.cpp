// Arbitrary text as a URI the portal might send back. Besides crashes and
// sanitizer reports, checks that an accepted URI gives an absolute path
// without NULs, and that the path's own file URI decodes to it again.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string uri(reinterpret_cast<const char*>(data), size);
  const std::string path = platform::localPathFromUri(uri);
  if (path.empty()) return 0;
  if (path[0] != '/' || path.find('\0') != std::string::npos) std::abort();
  g_autofree gchar* again = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (again == nullptr || platform::localPathFromUri(again) != path) std::abort();
  return 0;
}
