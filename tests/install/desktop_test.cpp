// The desktop entry, the AppStream data and the MIME package pass the desktop's validators, and the
// entry offers the program for every file type it reads.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "media/image_io.h"
#include "media/raw.h"
#include "media/video.h"
#include "platform/product.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const std::string kDist = std::string(KORVELLE_SOURCE_DIR) + "/dist/";
const std::string kEntry = kDist + "software.pelmora.Korvelle.desktop";
const std::string kMetainfo = kDist + "software.pelmora.Korvelle.metainfo.xml";
const std::string kMimePackage = kDist + "software.pelmora.Korvelle.mime.xml";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Value of key in the entry's main group ("" when absent).
std::string entryValue(const std::string& key) {
  std::istringstream lines(readFile(kEntry));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

std::set<std::string> splitList(const std::string& value) {
  std::set<std::string> items;
  std::istringstream in(value);
  for (std::string item; std::getline(in, item, ';');) {
    if (!item.empty()) items.insert(item);
  }
  return items;
}

// File extensions of each decoder name media::capabilities() reports.
const std::map<std::string, std::vector<std::string>> kDecoderExtensions = {
    {"jpeg", {"jpg", "jpeg"}}, {"png", {"png"}},   {"webp", {"webp"}},         {"gif", {"gif"}},
    {"bmp", {"bmp"}},          {"tiff", {"tif", "tiff"}}, {"heic", {"heic", "heif"}}, {"avif", {"avif"}},
};

// Every extension the program opens: images, RAW files and videos.
std::vector<std::string> openedExtensions() {
  std::vector<std::string> exts;
  for (const std::string& name : media::capabilities().decode) {
    auto it = kDecoderExtensions.find(name);
    EXPECT_NE(it, kDecoderExtensions.end()) << "decoder '" << name << "' has no extensions in this table";
    if (it != kDecoderExtensions.end()) exts.insert(exts.end(), it->second.begin(), it->second.end());
  }
  for (const std::string& e : media::rawExtensions()) exts.push_back(lower(e));
  for (const std::string& e : media::videoExtensions()) exts.push_back(lower(e));
  return exts;
}

// Extension → MIME types, from a database of the system's freedesktop.org package plus the program's.
std::map<std::string, std::set<std::string>> buildGlobTypes(const TempDir& dir) {
  std::map<std::string, std::set<std::string>> types;
  const std::string packages = dir.file("mime/packages");
  RunResult made = runShell("mkdir -p '" + packages + "' && cp /usr/share/mime/packages/freedesktop.org.xml '" +
                            kMimePackage + "' '" + packages + "/' && update-mime-database '" + dir.file("mime") +
                            "'");
  EXPECT_EQ(made.exitCode, 0) << made.err;
  // globs2 lines: weight:type:pattern[:flags]
  std::istringstream lines(readFile(dir.file("mime/globs2")));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string pattern = line.substr(b + 1, line.find(':', b + 1) - b - 1);
    if (pattern.rfind("*.", 0) == 0) types[lower(pattern.substr(2))].insert(line.substr(a + 1, b - a - 1));
  }
  return types;
}

}  // namespace

// The entry starts the program with one file (it opens the last one given).
TEST(DesktopFiles, EntryAndMetainfoPassTheirValidatorsAndMatchTheProgram) {
  ASSERT_TRUE(haveTool("desktop-file-validate")) << "scripts/deps.sh test installs desktop-file-utils";
  ASSERT_TRUE(haveTool("appstreamcli")) << "scripts/deps.sh test installs appstream";
  RunResult r = runProcess({"desktop-file-validate", kEntry});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  EXPECT_EQ(entryValue("Exec"), "korvelle %f");
  EXPECT_EQ(entryValue("Icon"), "software.pelmora.Korvelle");
  EXPECT_EQ(entryValue("Name"), product::kName);

  r = runProcess({"appstreamcli", "validate", "--no-net", "--no-color", kMetainfo});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string xml = readFile(kMetainfo);
  for (const std::string& part :
       {std::string("<release version=\"") + product::kVersion + "\"",
        std::string("<project_license>GPL-3.0-or-later</project_license>"),
        std::string("<launchable type=\"desktop-id\">software.pelmora.Korvelle.desktop</launchable>")}) {
    EXPECT_NE(xml.find(part), std::string::npos) << part;
  }
  // The licence named there is the one the program carries.
  const std::string licence = readFile(std::string(KORVELLE_SOURCE_DIR) + "/LICENSE");
  EXPECT_NE(licence.find("GNU GENERAL PUBLIC LICENSE\n                       Version 3"), std::string::npos);
}

TEST(DesktopEntry, OffersTheProgramForEveryTypeItOpens) {
  ASSERT_TRUE(haveTool("update-mime-database")) << "scripts/deps.sh test installs shared-mime-info";
  TempDir dir;
  const auto globTypes = buildGlobTypes(dir);
  const std::set<std::string> declared = splitList(entryValue("MimeType"));
  const std::vector<std::string> exts = openedExtensions();
  ASSERT_GT(exts.size(), 20u);
  for (const std::string& ext : exts) {
    auto it = globTypes.find(ext);
    ASSERT_NE(it, globTypes.end()) << "no MIME type knows *." << ext;
    for (const std::string& type : it->second) EXPECT_TRUE(declared.count(type)) << "*." << ext << ": " << type;
  }
  // The program's own package fills the gaps of the system's database.
  EXPECT_EQ(globTypes.at("iiq"), std::set<std::string>{"image/x-phaseone-iiq"});
}
