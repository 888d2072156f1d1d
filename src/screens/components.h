// components: what this program is built from, for the licences screen —
// the program's own licence and every open-source component it links or
// ships, each with the version the running process really uses (asked from
// the library where it tells, else taken from the loaded file's name), its
// licence and home page. Built once on first use; main thread only.
#pragma once

#include <string>
#include <vector>

namespace ui {

// One row of the licences screen.
struct Component {
  std::string id;       // lower-case word for hit ids ("ffmpeg", "libvpx")
  std::string name;
  std::string version;  // "—" when neither the library nor its file tells
  std::string license;  // SPDX identifier or a short description
  std::string purpose;  // what the program uses it for (German, shown as stored)
  std::string url;      // the project's home page; empty for none
};

// The program's licence: GPL-3.0-or-later (the file LICENSE beside the
// sources), compatible with Debian's FFmpeg built with its GPL parts.
inline constexpr const char kProgramLicense[] = "GPL-3.0-or-later";

// The program itself first, then the components in the order shown. A
// library linked only indirectly (through FFmpeg, LibRaw, libheif, Pango)
// is listed when it is loaded in this process; a shipped font when its file
// lies in the assets folder.
const std::vector<Component>& linkedComponents();

// The part of a version string a library reports that names its version:
// the first run of digits and dots ("libopus 1.3.1" → "1.3.1",
// "v1.12.0" → "1.12.0"); "—" when there is none.
std::string versionPart(const std::string& reported);

// FFmpeg's licence words ("GPL version 2 or later", "LGPL version 2.1 or
// later") as an SPDX identifier; the text itself when it matches neither.
std::string spdxFromFfmpegLicense(const std::string& words);

// Number of shared objects loaded into this process (the program's own
// executable and the kernel's vDSO not counted).
int loadedLibraryCount();

}  // namespace ui
