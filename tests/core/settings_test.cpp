// The settings record and its file, both fixed once per process: every scenario runs in a forked child.
#include "core/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/json.h"
#include "core/save_crypt.h"
#include "media/image.h"
#include "platform/fs.h"
#include "support/in_child.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// The layer below media keeps its own copies of the enumerations.
static_assert(settings::kFitCover == static_cast<int>(media::FitMode::Cover) &&
              settings::kFitContain == static_cast<int>(media::FitMode::Contain) &&
              settings::kFitStretch == static_cast<int>(media::FitMode::Stretch));
static_assert(settings::kPadBlack == static_cast<int>(media::PadMode::Black) &&
              settings::kPadWhite == static_cast<int>(media::PadMode::White) &&
              settings::kPadBlur == static_cast<int>(media::PadMode::Blur));

const char kBrokenSealLine[] =
    "[settings] Siegel gebrochen \xE2\x80\x94 Datei als .manipuliert beiseitegelegt\n";

struct ChildResult {
  std::string out;  // what the body returned
  std::string err;  // the child's standard error
};

using Env = testing_support::EnvChanges;

// Runs body in a forked child with the environment changes and its standard error sent to errPath.
ChildResult inChild(const Env& env, const std::string& errPath,
                    const std::function<std::string()>& body) {
  const testing_support::ChildResult child = testing_support::inChild(env, [&] {
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFd >= 0) {
      dup2(errFd, 2);
      close(errFd);
    }
    return body();
  });
  return {child.out, readFile(errPath)};
}

// The record as a JSON object, for comparing records across the process boundary.
std::string describe(const settings::Data& d) {
  json::Value o;
  o.kind = json::Kind::Object;
  const std::pair<const char*, std::string> texts[] = {
      {"language", d.language}, {"videoEncoder", d.videoEncoder}, {"lastOpenDir", d.lastOpenDir},
      {"lastSaveDir", d.lastSaveDir}, {"videoBitrate", std::to_string(d.videoBitrate)}};  // exact beyond 2^53
  const std::pair<const char*, double> numbers[] = {
      {"jpegQuality", d.jpegQuality}, {"imageFormat", d.imageFormat}, {"imageFitMode", d.imageFitMode},
      {"imagePadMode", d.imagePadMode}, {"videoResolution", d.videoResolution}, {"videoFitMode", d.videoFitMode},
      {"videoFadeMs", d.videoFadeMs}, {"windowW", d.windowW}, {"windowH", d.windowH}, {"windowX", d.windowX},
      {"windowY", d.windowY}, {"maximized", d.maximized}, {"fullscreen", d.fullscreen}};
  for (const auto& [key, text] : texts) {
    o.members[key].kind = json::Kind::String;
    o.members[key].text = text;
  }
  for (const auto& [key, x] : numbers) {
    o.members[key].kind = json::Kind::Number;
    o.members[key].number = x;
  }
  return o.dump();
}

std::string describeLoaded() { return describe(settings::get()); }

// The JSON text inside a sealed file; "<broken>" when it does not open.
std::string unseal(const std::string& bytes) {
  std::string plain;
  return platform::saveDecrypt(bytes, &plain) == platform::kUnsealOk ? plain : "<broken>";
}

class SettingsFile : public ::testing::Test {
 protected:
  std::string dataDir() const { return home_.path() + "/Korvelle"; }
  std::string path(const std::string& suffix = "") const {
    return dataDir() + "/settings.dat" + suffix;
  }
  void SetUp() override { ASSERT_TRUE(fs::create_directories(dataDir())); }

  ChildResult run(const std::function<std::string()>& body) {
    return inChild({{"XDG_DATA_HOME", home_.path().c_str()}}, scratch_.file("stderr"), body);
  }

  void writeSettings(const std::string& bytes, const std::string& suffix = "") {
    ASSERT_TRUE(writeFile(path(suffix), bytes));
  }

  std::vector<std::string> entries() const { return platform::fs::listDir(dataDir()); }

  TempDir home_;
  TempDir scratch_;
};

// A record differing from the defaults in every field.
const settings::Data kEveryFieldChanged{
    .language = "pt-BR", .jpegQuality = 77, .imageFormat = settings::kFormatWebP,
    .imageFitMode = settings::kFitStretch, .imagePadMode = settings::kPadWhite, .videoResolution = 1080,
    .videoBitrate = 12000000000,  // beyond 32 bits
    .videoFitMode = settings::kFitCover, .videoEncoder = "h264_vaapi", .videoFadeMs = 750, .windowW = 1280,
    .windowH = 800, .windowX = 0, .windowY = 33, .maximized = true, .fullscreen = true,
    .lastOpenDir = "/home/j\xC3\xBCrgen/Bilder \"neu\"\t", .lastSaveDir = "/tmp"};

TEST_F(SettingsFile, SaveAndLoadKeepEveryField) {
  ChildResult saved = run([] {
    settings::mutableData() = kEveryFieldChanged;
    return settings::save() ? "saved" : "failed";
  });
  ASSERT_EQ(saved.out, "saved");
  EXPECT_EQ(entries(), std::vector<std::string>{"settings.dat"});

  // The file holds the compact record, sealed, with words for the enumerations.
  const std::string text = unseal(readFile(path()));
  const json::Value stored = json::parse(text);
  EXPECT_EQ(stored.dump(), text);
  EXPECT_EQ(stored["imageFitMode"].text, "stretch");
  EXPECT_EQ(stored["videoBitrate"].number, 12000000000.0);
  EXPECT_EQ(stored["maximized"].kind, json::Kind::Bool);

  ChildResult loaded = run(describeLoaded);
  EXPECT_EQ(loaded.out, describe(kEveryFieldChanged));
  EXPECT_EQ(loaded.err, "");
}

TEST_F(SettingsFile, EnumerationWordsMapExactlyAndUnknownOnesFallBack) {
  // Words of imageFormat, imageFitMode, imagePadMode, videoFitMode -> their values.
  const std::pair<const char*, const char*> cases[] = {
      {R"({"imageFormat":"jpeg","imageFitMode":"cover","imagePadMode":"black","videoFitMode":"stretch"})", "1 0 0 2"},
      {R"({"imageFormat":"png","imageFitMode":"stretch","imagePadMode":"white","videoFitMode":"cover"})", "2 2 1 0"},
      {R"({"imageFormat":"webp","imageFitMode":"contain","imagePadMode":"blur","videoFitMode":"contain"})", "3 1 2 1"},
      {R"({"imageFormat":"gif","imageFitMode":"Cover","imagePadMode":" black","videoFitMode":"STRETCH"})", "0 1 2 1"},
      {R"({"imageFormat":1,"imageFitMode":0,"imagePadMode":true,"videoFitMode":null})", "0 1 2 1"},
  };
  for (const auto& [file, want] : cases) {
    writeSettings(file);
    ChildResult r = run([] {
      const settings::Data& d = settings::get();
      return std::to_string(d.imageFormat) + " " + std::to_string(d.imageFitMode) + " " +
             std::to_string(d.imagePadMode) + " " + std::to_string(d.videoFitMode);
    });
    EXPECT_EQ(r.out, want) << file;
  }

  // Values outside the tables are written as the fallback words.
  ChildResult r = run([] {
    settings::mutableData().imageFormat = 7;
    settings::mutableData().imageFitMode = -1;
    return settings::save() ? "saved" : "failed";
  });
  ASSERT_EQ(r.out, "saved");
  const json::Value stored = json::parse(unseal(readFile(path())));
  EXPECT_EQ(stored["imageFormat"].text, "auto");
  EXPECT_EQ(stored["imageFitMode"].text, "contain");
}

// A plain file is taken over as far as it parses, kept as ".alt" and replaced by a sealed file. Also an empty one (as a
// crash during an unsynced write could leave), one without an object, garbage and one with a damaged magic.
TEST_F(SettingsFile, PlainFilesAreAdoptedAndKeptAsAlt) {
  std::string damagedMagic = platform::saveEncrypt("{\"language\":\"it\"}");
  damagedMagic[1] = 'X';
  const std::pair<std::string, settings::Data> files[] = {
      {"{\"jpegQuality\":80.6, \"imageFitMode\":\"Cover\", \"language\":\"de\", \"windowX\":10,"
       " \"maximized\":\"yes\", \"unknown\":[1]}\n",
       {.language = "de", .jpegQuality = 80, .windowX = 10}},
      {"", {}},
      {"[1,2]", {}},
      {std::string("\x00\xff\x10", 3), {}},
      {damagedMagic, {}},
  };
  for (const auto& [bytes, want] : files) {
    writeSettings(bytes);
    const ChildResult r = run(describeLoaded);
    EXPECT_EQ(r.out, describe(want)) << bytes;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(entries(), (std::vector<std::string>{"settings.dat", "settings.dat.alt"}));
    EXPECT_EQ(readFile(path(".alt")), bytes);
    const json::Value sealed = json::parse(unseal(readFile(path())));
    EXPECT_EQ(sealed["jpegQuality"].number, want.jpegQuality) << bytes;
    EXPECT_EQ(sealed["language"].text, want.language) << bytes;
    EXPECT_FALSE(sealed.has("unknown"));
    fs::remove(path(".alt"));
  }
}

TEST_F(SettingsFile, NumbersAreTruncatedAndTheBitRateResetsWhenMissing) {
  const struct {
    const char* file;
    const char* field;
    const char* want;
  } cases[] = {
      {R"({"windowX":-3.9})", "windowX", "-3"},
      {R"({"videoBitrate":12345678901234567})", "videoBitrate", "12345678901234568"},
      {R"({"videoBitrate":"8000000"})", "videoBitrate", "0"},  // wrong kind: automatic
      // Out of range for the field: saturated instead of an undefined conversion.
      {R"({"jpegQuality":1e300})", "jpegQuality", "2147483647"},
      {R"({"windowY":-1e300})", "windowY", "-2147483648"},
      {R"({"videoBitrate":1e30})", "videoBitrate", "9223372036854775807"},
      {R"({"videoBitrate":-inf})", "videoBitrate", "-9223372036854775808"},
      {R"({"videoFadeMs":-nan})", "videoFadeMs", "500"},  // NaN keeps the value
      {R"({"videoBitrate":-nan})", "videoBitrate", "0"},
  };
  for (const auto& c : cases) {
    writeSettings(c.file);
    const json::Value got = json::parse(run(describeLoaded).out);
    const json::Value& v = got[c.field];
    EXPECT_EQ(v.kind == json::Kind::String ? v.text : v.dump(), c.want) << c.file;
  }

  // A sealed file without the key resets the bit rate too.
  writeSettings(platform::saveEncrypt("{\"jpegQuality\":70}"));
  EXPECT_EQ(run(describeLoaded).out, describe(settings::Data{.jpegQuality = 70}));
}

// Which bytes break a seal is save_crypt's matter; here, that a broken one is set aside, replacing an older one.
TEST_F(SettingsFile, BrokenSealIsSetAside) {
  std::string bad = platform::saveEncrypt("{\"language\":\"it\",\"jpegQuality\":50}");
  bad[40] = static_cast<char>(bad[40] ^ 0x20);  // in the tag
  writeSettings(bad);
  writeSettings("older", ".manipuliert");
  const ChildResult r = run(describeLoaded);
  EXPECT_EQ(r.out, describe(settings::Data{}));
  EXPECT_EQ(r.err, kBrokenSealLine);
  EXPECT_EQ(entries(), std::vector<std::string>{"settings.dat.manipuliert"});
  EXPECT_EQ(readFile(path(".manipuliert")), bad);
}

TEST_F(SettingsFile, FailedSaveReportsFalseAndKeepsTheOldFile) {
  // Every obstacle below stops root too: nothing can be opened for writing,
  // created or renamed over where a directory or file is in the way.
  const std::string old = platform::saveEncrypt("{\"language\":\"sv\"}");
  auto changeAndSave = [] {
    settings::mutableData().language = "fi";
    return std::string(settings::save() ? "saved" : "failed") + " " + settings::get().language;
  };

  // The temporary's name is taken by a directory.
  writeSettings(old);
  fs::create_directories(path(".tmp") + "/keep");
  EXPECT_EQ(run(changeAndSave).out, "failed fi");
  EXPECT_EQ(readFile(path()), old);
  EXPECT_TRUE(fs::is_directory(path(".tmp") + "/keep"));
  fs::remove_all(path(".tmp"));

  // The settings file's name is taken by a directory: the rename fails, no temporary is left behind.
  fs::remove(path());
  fs::create_directories(path() + "/keep");
  EXPECT_EQ(run(changeAndSave).out, "failed fi");
  EXPECT_EQ(entries(), std::vector<std::string>{"settings.dat"});
  EXPECT_TRUE(fs::is_directory(path() + "/keep"));

  // The data directory cannot be created because a file has its name.
  TempDir other;
  ASSERT_TRUE(writeFile(other.file("Korvelle"), "not a directory"));
  ChildResult noDir = inChild({{"XDG_DATA_HOME", other.path().c_str()}}, scratch_.file("err"),
                              [] { return settings::save() ? "saved" : "failed"; });
  EXPECT_EQ(noDir.out, "failed");
  EXPECT_EQ(readFile(other.file("Korvelle")), "not a directory");
}

TEST_F(SettingsFile, PlainFileStaysWhenItsSealedReplacementCannotBeWritten) {
  // Moving the only copy aside without a sealed one in its place would leave the next start with defaults.
  const std::string plain = "{\"language\":\"de\"}";
  writeSettings(plain);
  fs::create_directories(path(".tmp") + "/keep");
  EXPECT_EQ(run(describeLoaded).out, describe(settings::Data{.language = "de"}));
  EXPECT_EQ(readFile(path()), plain);
  EXPECT_FALSE(fs::exists(path(".alt")));
}

}  // namespace
