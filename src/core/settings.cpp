#include "core/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/json.h"
#include "core/save_crypt.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace settings {

namespace {

Data g_data;
bool g_loaded = false;

// The settings file is the user's own business.
constexpr unsigned kFileMode = 0600;

// Words of an enumerated field, indexed by value, and the value that stands
// in for anything unknown (in either direction).
struct WordTable {
  const char* const* words;
  int32_t count;
  int32_t fallback;
};

constexpr const char* kFormatWords[] = {"auto", "jpeg", "png", "webp"};
constexpr const char* kFitWords[] = {"cover", "contain", "stretch"};
constexpr const char* kPadWords[] = {"black", "white", "blur"};
constexpr WordTable kFormatTable{kFormatWords, 4, kFormatAuto};
constexpr WordTable kFitTable{kFitWords, 3, kFitContain};
constexpr WordTable kPadTable{kPadWords, 3, kPadBlur};

const char* wordOf(const WordTable& table, int32_t value) {
  if (value < 0 || value >= table.count) value = table.fallback;
  return table.words[value];
}

// Exact, case-sensitive match.
int32_t valueOf(const WordTable& table, const std::string& word) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (word == table.words[i]) return i;
  }
  return table.fallback;
}

double nv(const json::Value& obj, const char* key, double def) {
  const json::Value& v = obj[key];
  return v.kind == json::Kind::Number ? v.number : def;
}

std::string sv(const json::Value& obj, const char* key, const std::string& def) {
  const json::Value& v = obj[key];
  return v.kind == json::Kind::String ? v.text : def;
}

bool bv(const json::Value& obj, const char* key, bool def) {
  const json::Value& v = obj[key];
  return v.kind == json::Kind::Bool ? v.boolean : def;
}

// Truncation toward zero. A plain file can hold any number (1e300, -nan),
// and converting one outside the integer's range is undefined, so those
// saturate and NaN keeps the fallback.
int32_t toInt32(double x, int32_t fallback) {
  if (x != x) return fallback;
  if (x >= 2147483648.0) return INT32_MAX;
  if (x <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(x);
}

int64_t toInt64(double x, int64_t fallback) {
  if (x != x) return fallback;
  if (x >= 9223372036854775808.0) return INT64_MAX;
  if (x < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(x);
}

void readInt(const json::Value& obj, const char* key, int32_t& field) {
  field = toInt32(nv(obj, key, field), field);
}

void readWord(const json::Value& obj, const char* key, const WordTable& table, int32_t& field) {
  field = valueOf(table, sv(obj, key, wordOf(table, field)));
}

json::Value numberValue(double x) {
  json::Value v;
  v.kind = json::Kind::Number;
  v.number = x;
  return v;
}

json::Value stringValue(const std::string& s) {
  json::Value v;
  v.kind = json::Kind::String;
  v.text = s;
  return v;
}

json::Value boolValue(bool b) {
  json::Value v;
  v.kind = json::Kind::Bool;
  v.boolean = b;
  return v;
}

json::Value toJson() {
  const Data& d = g_data;
  json::Value o;
  o.kind = json::Kind::Object;
  auto& m = o.members;
  m["language"] = stringValue(d.language);
  m["jpegQuality"] = numberValue(d.jpegQuality);
  m["imageFormat"] = stringValue(wordOf(kFormatTable, d.imageFormat));
  m["imageFitMode"] = stringValue(wordOf(kFitTable, d.imageFitMode));
  m["imagePadMode"] = stringValue(wordOf(kPadTable, d.imagePadMode));
  m["videoResolution"] = numberValue(d.videoResolution);
  m["videoBitrate"] = numberValue(static_cast<double>(d.videoBitrate));
  m["videoFitMode"] = stringValue(wordOf(kFitTable, d.videoFitMode));
  m["videoEncoder"] = stringValue(d.videoEncoder);
  m["videoFadeMs"] = numberValue(d.videoFadeMs);
  m["windowW"] = numberValue(d.windowW);
  m["windowH"] = numberValue(d.windowH);
  m["windowX"] = numberValue(d.windowX);
  m["windowY"] = numberValue(d.windowY);
  m["maximized"] = boolValue(d.maximized);
  m["fullscreen"] = boolValue(d.fullscreen);
  m["lastOpenDir"] = stringValue(d.lastOpenDir);
  m["lastSaveDir"] = stringValue(d.lastSaveDir);
  return o;
}

// Each field keeps its current value when its key is missing or of the wrong
// kind; values are taken as they are (the screens keep them in range).
void fromJson(const json::Value& v) {
  if (v.kind != json::Kind::Object) return;
  Data& d = g_data;
  d.language = sv(v, "language", d.language);
  d.videoEncoder = sv(v, "videoEncoder", d.videoEncoder);
  d.lastOpenDir = sv(v, "lastOpenDir", d.lastOpenDir);
  d.lastSaveDir = sv(v, "lastSaveDir", d.lastSaveDir);
  readInt(v, "jpegQuality", d.jpegQuality);
  readInt(v, "videoResolution", d.videoResolution);
  readInt(v, "videoFadeMs", d.videoFadeMs);
  readInt(v, "windowW", d.windowW);
  readInt(v, "windowH", d.windowH);
  readInt(v, "windowX", d.windowX);
  readInt(v, "windowY", d.windowY);
  // Unlike the others, a file without a bit rate means automatic.
  d.videoBitrate = toInt64(nv(v, "videoBitrate", 0), 0);
  d.maximized = bv(v, "maximized", d.maximized);
  d.fullscreen = bv(v, "fullscreen", d.fullscreen);
  readWord(v, "imageFormat", kFormatTable, d.imageFormat);
  readWord(v, "imageFitMode", kFitTable, d.imageFitMode);
  readWord(v, "imagePadMode", kPadTable, d.imagePadMode);
  readWord(v, "videoFitMode", kFitTable, d.videoFitMode);
}

std::string settingsPath() { return paths::dataDir() + "/settings.dat"; }

// The whole regular file at path; false when it is missing, not a regular
// file or cannot be read completely.
bool readWholeFile(const std::string& path, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buf[16384];
  while (ok) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

const Data& get() {
  load();
  return g_data;
}

Data& mutableData() {
  load();
  return g_data;
}

void load() {
  if (g_loaded) return;
  g_loaded = true;  // before anything can fail: a failure is not retried this run

  const std::string path = settingsPath();
  std::string bytes;
  if (!readWholeFile(path, &bytes)) return;

  if (platform::looksSealed(bytes)) {
    std::string plain;
    if (platform::saveDecrypt(bytes, &plain) == platform::kUnsealOk) {
      fromJson(json::parse(plain));
      return;
    }
    if (!platform::fs::replaceAtomic(path, path + ".manipuliert")) {
      // Left in place it is never read either: each start finds the seal broken again.
      diag::write("file", "Einstellungen: Siegel gebrochen, Datei nicht umbenennbar (" +
                              std::string(std::strerror(errno)) + ")");
      return;
    }
    std::fputs("[settings] Siegel gebrochen — Datei als .manipuliert beiseitegelegt\n", stderr);
    diag::write("file", "Einstellungen: Siegel gebrochen, Datei als .manipuliert beiseitegelegt");
    return;
  }

  // A plain (or empty, or foreign) file: take over what parses, keep the
  // original beside it and put a sealed file in its place.
  fromJson(json::parse(bytes));
  const std::string alt = path + ".alt";
  if (!platform::fs::replaceAtomic(path, alt)) {
    diag::write("file", "Einstellungen: Klartext-Datei nicht umbenennbar, bleibt liegen");
    return;
  }
  if (save()) {
    diag::write("file", "Einstellungen: Klartext-Datei uebernommen, alte als .alt behalten");
  } else {
    // Without a sealed replacement the next start would find nothing and
    // silently fall back to defaults; put the original back instead.
    if (!platform::fs::replaceAtomic(alt, path)) {
      diag::write("file", "Einstellungen: Klartext-Datei bleibt als .alt liegen (" +
                              std::string(std::strerror(errno)) + ")");
    }
  }
}

bool save() {
  if (!paths::ensureDir(paths::dataDir())) {
    diag::write("file", "Einstellungen nicht gespeichert: Datenordner fehlt (" + paths::dataDir() + ")");
    return false;
  }
  const std::string path = settingsPath();
  std::string sealed = platform::saveEncrypt(toJson().dump());
  if (sealed.empty()) {
    diag::write("file", "Einstellungen nicht gespeichert: Verschluesselung nicht verfuegbar");
    return false;
  }
  platform::fs::ReplaceOptions opts;
  opts.tempPath = path + ".tmp";
  opts.newFileMode = kFileMode;
  std::string word;
  if (!platform::fs::replaceFile(path, sealed.data(), sealed.size(), &word, opts)) {
    const std::string reason = std::strerror(errno);
    diag::write("file", "Einstellungen nicht gespeichert (" + opts.tempPath + ", " + word + ": " + reason + ")");
    return false;
  }
  return true;
}

}  // namespace settings
