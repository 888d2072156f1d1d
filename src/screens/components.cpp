#include "screens/components.h"

#include <SDL.h>
#include <cairo.h>
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <glib.h>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <link.h>
#include <pango/pango.h>
#include <sodium.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/product.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

namespace ui {

namespace {

constexpr const char kNone[] = "\u2014";

// --- Asking the running process ----------------------------------------------------

// A symbol of any library loaded into the process (they are all in the global
// scope, linked directly or pulled in by one that is); null when not loaded.
void* loadedSymbol(const char* name) { return dlsym(RTLD_DEFAULT, name); }

std::string versionFromFunction(const char* symbol) {
  auto fn = reinterpret_cast<const char* (*)()>(loadedSymbol(symbol));
  const char* v = fn ? fn() : nullptr;
  return v ? versionPart(v) : std::string();
}

// A library exporting its version as a `const char*` variable.
std::string versionFromVariable(const char* symbol) {
  auto var = static_cast<const char* const*>(loadedSymbol(symbol));
  return var && *var ? versionPart(*var) : std::string();
}

// The path of the loaded object whose file name starts with stem ("libx264.so").
std::string loadedPath(const std::string& stem) {
  struct Search {
    std::string stem;
    std::string found;
  } search{stem, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        const char* name = info->dlpi_name;
        if (!name || !*name) return 0;
        const char* base = std::strrchr(name, '/');
        base = base ? base + 1 : name;
        if (std::strncmp(base, s->stem.c_str(), s->stem.size()) != 0) return 0;
        s->found = name;
        return 1;
      },
      &search);
  return search.found;
}

// The file the loaded object really is, after symbolic links
// ("…/libva.so.2" → "libva.so.2.1700.0").
std::string realFileName(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string out = real ? real : path;
  std::free(real);
  size_t slash = out.rfind('/');
  return slash == std::string::npos ? out : out.substr(slash + 1);
}

std::string dotted(int major, int minor, int micro) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d.%d.%d", major, minor, micro);
  return buf;
}

// FreeType only tells its version through a library handle.
std::string freetypeVersion() {
  using InitFn = int (*)(void**);
  using VersionFn = void (*)(void*, int*, int*, int*);
  using DoneFn = int (*)(void*);
  auto init = reinterpret_cast<InitFn>(loadedSymbol("FT_Init_FreeType"));
  auto version = reinterpret_cast<VersionFn>(loadedSymbol("FT_Library_Version"));
  auto done = reinterpret_cast<DoneFn>(loadedSymbol("FT_Done_FreeType"));
  void* lib = nullptr;
  if (!init || !version || !done || init(&lib) != 0) return {};
  int a = 0, b = 0, c = 0;
  version(lib, &a, &b, &c);
  done(lib);
  return dotted(a, b, c);
}

// Versions packed as integers: 0xMMmmpp (libwebp), MMmm0 or MMmm (lcms2).
std::string webpVersion() {
  auto fn = reinterpret_cast<int (*)()>(loadedSymbol("WebPGetDecoderVersion"));
  if (!fn) return {};
  int v = fn();
  return dotted(v >> 16, (v >> 8) & 0xFF, v & 0xFF);
}

std::string lcmsVersion() {
  auto fn = reinterpret_cast<int (*)()>(loadedSymbol("cmsGetEncodedCMMversion"));
  if (!fn) return {};
  int v = fn();  // 2140 for 2.14
  return std::to_string(v / 1000) + "." + std::to_string((v % 1000) / 10);
}

std::string libpngVersion() {
  auto fn = reinterpret_cast<const char* (*)(void*)>(loadedSymbol("png_get_libpng_ver"));
  const char* v = fn ? fn(nullptr) : nullptr;
  return v ? versionPart(v) : std::string();
}

// libva's file carries its version: libva.so.2.<minor·100>.0.
std::string libvaVersion(const std::string& path) {
  std::string file = realFileName(path);
  int major = 0, packed = 0;
  if (std::sscanf(file.c_str(), "libva.so.%d.%d", &major, &packed) == 2 && packed > 0) {
    return std::to_string(major) + "." + std::to_string(packed / 100);
  }
  return {};
}

// x264 has no version call; its file name carries the API build.
std::string x264Build(const std::string& path) {
  std::string file = realFileName(path);
  size_t at = file.find(".so.");
  return at == std::string::npos ? std::string() : "Build " + file.substr(at + 4);
}

// --- The fonts shipped -------------------------------------------------------------

struct FontRow {
  const char* fileStem;  // the shipped file's name without ".ttf"
  const char* id;
  const char* purpose;
};

constexpr FontRow kFontRows[] = {
    {"DejaVuSans", "dejavu", "Grundschrift, Latein, Griechisch, Kyrillisch, Hebr\u00e4isch"},
    {"KorvelleCJK", "noto_cjk", "Chinesisch, Japanisch, Koreanisch (Auszug)"},
    {"KorvelleDeva", "noto_deva", "Hindi, Nepali (Auszug)"},
    {"KorvelleBeng", "noto_beng", "Bengali (Auszug)"},
    {"KorvelleThai", "noto_thai", "Thai (Auszug)"},
    {"KorvelleArab", "noto_arab", "Arabisch, Persisch, Urdu (Auszug)"},
};

// Family and version of the application fonts registered with fontconfig,
// by file stem ("DejaVuSans-Bold" is folded into "DejaVuSans").
struct FontFacts {
  std::string family;
  std::string version;
};

std::map<std::string, FontFacts> registeredFonts() {
  std::map<std::string, FontFacts> out;
  FcFontSet* set = FcConfigGetFonts(FcConfigGetCurrent(), FcSetApplication);
  for (int i = 0; set && i < set->nfont; ++i) {
    FcChar8* file = nullptr;
    FcChar8* family = nullptr;
    int version = 0;
    if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
    FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family);
    FcPatternGetInteger(set->fonts[i], FC_FONTVERSION, 0, &version);
    std::string stem = reinterpret_cast<const char*>(file);
    stem = stem.substr(stem.rfind('/') + 1);
    stem = stem.substr(0, stem.find_first_of("-."));
    if (out.count(stem)) continue;
    FontFacts facts;
    facts.family = family ? reinterpret_cast<const char*>(family) : stem;
    if (version > 0) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.3f", version / 65536.0);  // 16.16 fixed point
      std::string v = buf;
      while (v.size() > 3 && v.back() == '0') v.pop_back();
      facts.version = v;
    }
    out[stem] = facts;
  }
  return out;
}

void addFonts(std::vector<Component>* rows) {
  std::map<std::string, FontFacts> fonts = registeredFonts();
  for (const FontRow& f : kFontRows) {
    auto it = fonts.find(f.fileStem);
    if (it == fonts.end()) continue;
    const bool dejavu = it->second.family.rfind("DejaVu", 0) == 0;
    const std::string& family = it->second.family;
    rows->push_back({f.id, family, it->second.version.empty() ? kNone : it->second.version,
                     dejavu ? "Bitstream Vera + Public Domain" : "SIL OFL 1.1", f.purpose,
                     dejavu ? "https://dejavu-fonts.github.io"
                            : (family.find("CJK") != std::string::npos ? "https://github.com/notofonts/noto-cjk"
                                                                       : "https://notofonts.github.io")});
  }
}

// --- The table ------------------------------------------------------------------

std::vector<Component> build() {
  std::vector<Component> rows;
  auto add = [&rows](const char* id, const char* name, std::string version, const char* license,
                     const char* purpose, const char* url) {
    rows.push_back({id, name, version.empty() ? kNone : version, license, purpose, url});
  };

  add("korvelle", product::kName, product::kVersion, kProgramLicense,
      "dieses Programm; der Lizenztext liegt als LICENSE bei", "https://www.gnu.org/licenses/gpl-3.0.html");

  const std::string ffLicense = spdxFromFfmpegLicense(avcodec_license());
  const bool ffGpl = ffLicense.rfind("GPL", 0) == 0;
  add("ffmpeg", "FFmpeg", av_version_info(), ffLicense.c_str(),
      ffGpl ? "libav*/libsw* \u2014 Debians Paket, mit GPL-Teilen gebaut"
            : "libav*/libsw* \u2014 ohne GPL-Teile gebaut",
      "https://ffmpeg.org");

  SDL_version sdl;
  SDL_GetVersion(&sdl);
  add("sdl2", "SDL2", dotted(sdl.major, sdl.minor, sdl.patch), "Zlib", "Fenster, Eingabe, Ton",
      "https://www.libsdl.org");
  if (std::string v = versionFromFunction("src_get_version"); !v.empty()) {
    add("libsamplerate", "libsamplerate", v, "BSD-2-Clause", "Ton umrechnen \u2014 \u00fcber SDL2",
        "https://libsndfile.github.io/libsamplerate/");
  }
  add("cairo", "Cairo", cairo_version_string(), "LGPL-2.1 / MPL-1.1", "Zeichnen", "https://www.cairographics.org");
  if (std::string v = versionFromFunction("pixman_version_string"); !v.empty()) {
    add("pixman", "pixman", v, "MIT", "Pixel-Arbeit \u2014 \u00fcber Cairo", "https://pixman.org");
  }
  add("pango", "Pango", pango_version_string(), "LGPL-2.0-or-later", "Textsatz, 44 Sprachen",
      "https://pango.gnome.org");
  if (std::string v = versionFromFunction("hb_version_string"); !v.empty()) {
    add("harfbuzz", "HarfBuzz", v, "MIT", "Schriftzeichen formen \u2014 \u00fcber Pango", "https://harfbuzz.github.io");
  }
  if (std::string v = versionFromVariable("fribidi_version_info"); !v.empty()) {
    add("fribidi", "FriBidi", v, "LGPL-2.1-or-later", "Schrift von rechts nach links \u2014 \u00fcber Pango",
        "https://github.com/fribidi/fribidi");
  }
  if (std::string v = freetypeVersion(); !v.empty()) {
    add("freetype", "FreeType", v, "FTL / GPL-2.0-or-later", "Schriftdateien lesen", "https://freetype.org");
  }
  const int fc = FcGetVersion();
  add("fontconfig", "fontconfig", dotted(fc / 10000, fc / 100 % 100, fc % 100), "MIT-artig (HPND)",
      "Schriftsuche", "https://www.freedesktop.org/wiki/Software/fontconfig/");
  add("glib", "GLib / GIO", dotted(static_cast<int>(glib_major_version), static_cast<int>(glib_minor_version),
                                   static_cast<int>(glib_micro_version)),
      "LGPL-2.1-or-later", "Datei-Dialog \u00fcber das Portal", "https://gitlab.gnome.org/GNOME/glib");

  if (std::string path = loadedPath("libx264.so"); !path.empty()) {
    add("x264", "x264", x264Build(path), "GPL-2.0-or-later", "H.264 in Software \u2014 \u00fcber FFmpeg",
        "https://www.videolan.org/developers/x264.html");
  }
  if (std::string v = versionFromFunction("vpx_codec_version_str"); !v.empty()) {
    add("libvpx", "libvpx (VP9)", v, "BSD-3-Clause", "patentfreier Software-Encoder", "https://www.webmproject.org/code/");
  }
  if (std::string v = versionFromFunction("opus_get_version_string"); !v.empty()) {
    add("libopus", "libopus", v, "BSD-3-Clause", "Ton in WebM", "https://opus-codec.org");
  }
  if (std::string v = versionFromFunction("dav1d_version"); !v.empty()) {
    add("dav1d", "dav1d", v, "BSD-2-Clause", "AV1 lesen (AVIF)", "https://code.videolan.org/videolan/dav1d");
  }
  if (std::string v = webpVersion(); !v.empty()) {
    add("libwebp", "libwebp", v, "BSD-3-Clause", "WebP lesen und schreiben",
        "https://developers.google.com/speed/webp");
  }
  if (std::string path = loadedPath("libva.so"); !path.empty()) {
    add("libva", "libva", libvaVersion(path), "MIT", "Kodieren auf der Grafikkarte", "https://github.com/intel/libva");
  }

  add("libraw", "LibRaw", versionPart(libraw_version()), "LGPL-2.1 / CDDL-1.0", "Rohformate der Kameras entwickeln",
      "https://www.libraw.org");
  if (std::string v = lcmsVersion(); !v.empty()) {
    add("lcms2", "Little CMS (lcms2)", v, "MIT", "Farbprofile \u2014 \u00fcber LibRaw", "https://www.littlecms.com");
  }
  if (std::string path = loadedPath("libgomp.so"); !path.empty()) {
    add("libgomp", "libgomp (OpenMP)", realFileName(path), "GPL-3.0-or-later + Runtime Library Exception",
        "Mehrkern-Entwicklung in LibRaw; die Ausnahme erlaubt das Binden", "");
  }
  if (!loadedPath("libjpeg.so").empty()) {
    add("libjpeg", "libjpeg-turbo", "", "IJG / BSD-3-Clause / Zlib",
        "JPEG-Fotos lesen; JPEG in Rohformaten \u2014 \u00fcber LibRaw",
        "https://libjpeg-turbo.org");
  }
  add("libheif", "libheif", versionPart(heif_get_version()), "LGPL-3.0-or-later", "HEIF-Fotos lesen",
      "https://github.com/strukturag/libheif");
  if (std::string v = versionFromFunction("de265_get_version"); !v.empty()) {
    add("libde265", "libde265", v, "LGPL-3.0-or-later", "HEVC in HEIF lesen \u2014 \u00fcber libheif",
        "https://github.com/strukturag/libde265");
  }
  if (std::string v = versionFromVariable("x265_version_str"); !v.empty()) {
    add("x265", "x265", v, "GPL-2.0-or-later", "mitgebunden von libheif und FFmpeg, hier ungenutzt",
        "https://www.videolan.org/developers/x265.html");
  }
  if (std::string v = versionFromFunction("aom_codec_version_str"); !v.empty()) {
    add("libaom", "libaom", v, "BSD-2-Clause", "mitgebunden von libheif und FFmpeg, hier ungenutzt",
        "https://aomedia.googlesource.com/aom/");
  }
  add("libsodium", "libsodium", versionPart(sodium_version_string()), "ISC", "verschl\u00fcsselte Einstellungen",
      "https://libsodium.org");
  if (std::string v = versionFromFunction("zlibVersion"); !v.empty()) {
    add("zlib", "zlib", v, "Zlib", "Kompression \u2014 \u00fcber PNG und FFmpeg", "https://zlib.net");
  }
  if (std::string v = libpngVersion(); !v.empty()) {
    add("libpng", "libpng", v, "libpng-2.0", "PNG \u2014 \u00fcber Cairo und FreeType",
        "http://www.libpng.org/pub/png/libpng.html");
  }

  addFonts(&rows);

  const int libs = loadedLibraryCount();
  char others[256];
  std::snprintf(others, sizeof others,
                "%d Bibliotheken sind geladen; die hier nicht genannten bringen Debians FFmpeg, SDL2 und GLib "
                "mit, das Programm nutzt sie nicht selbst",
                libs);
  rows.push_back({"others", "Weitere Systembibliotheken", "Debian 12", "jeweils eigene, siehe /usr/share/doc/*/copyright",
                  others, ""});
  return rows;
}

}  // namespace

std::string versionPart(const std::string& reported) {
  for (size_t i = 0; i < reported.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(reported[i]))) continue;
    size_t end = i;
    while (end < reported.size() &&
           (std::isdigit(static_cast<unsigned char>(reported[end])) || reported[end] == '.')) {
      ++end;
    }
    while (end > i && reported[end - 1] == '.') --end;
    return reported.substr(i, end - i);
  }
  return kNone;
}

std::string spdxFromFfmpegLicense(const std::string& words) {
  struct Map {
    const char* words;
    const char* spdx;
  };
  static constexpr Map kMap[] = {
      {"LGPL version 2.1 or later", "LGPL-2.1-or-later"}, {"LGPL version 3 or later", "LGPL-3.0-or-later"},
      {"GPL version 2 or later", "GPL-2.0-or-later"},     {"GPL version 3 or later", "GPL-3.0-or-later"},
      {"nonfree and unredistributable", "nonfree"},
  };
  for (const Map& m : kMap) {
    if (words == m.words) return m.spdx;
  }
  return words;
}

int loadedLibraryCount() {
  int count = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        const char* name = info->dlpi_name;
        // The executable has an empty name; the vDSO is no file.
        if (name && *name && std::strstr(name, "linux-vdso") == nullptr) ++*static_cast<int*>(data);
        return 0;
      },
      &count);
  return count;
}

const std::vector<Component>& linkedComponents() {
  static const std::vector<Component> rows = build();
  return rows;
}

}  // namespace ui
