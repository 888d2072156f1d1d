// Untranslated leftovers: a text of a translated language that is the same as
// its English text is almost always a line copied from en.txt and forgotten.
// The few that are right as they stand (product and format names, "OK",
// numbers, words the language shares with English) are listed in
// src/core/i18n/identical_ok.txt, one "<lang> <key>" per line ("* <key>" for
// every language, "#" starts a comment line).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/i18n_file.h"

namespace {

const std::string kDataDir = std::string(KORVELLE_SOURCE_DIR) + "/src/core/i18n";

// The allow-list: (language or "*", key) pairs.
using AllowList = std::set<std::pair<std::string, std::string>>;

// Parses identical_ok.txt. Each fault (an entry that is not exactly two
// words) is appended to *faults as "line N: ...". Repeated lines are harmless:
// two translators may add the same one.
AllowList parseAllowList(const std::string& content, std::vector<std::string>* faults) {
  AllowList allow;
  std::istringstream in(content);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    // "#" starts a comment, on its own line or after an entry; keys have none.
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::istringstream words(line);
    std::string lang, key, extra;
    words >> lang >> key;
    if (key.empty() || (words >> extra)) {
      faults->push_back("line " + std::to_string(number) + ": expected \"<lang> <key>\", got \"" + line + "\"");
      continue;
    }
    allow.emplace(lang, key);
  }
  return allow;
}

// The leftovers of one language: each text equal to its English text whose
// key the allow-list does not name for this language or for "*".
std::vector<std::string> leftovers(const std::string& code, const std::vector<i18n_file::Text>& english,
                                   const std::vector<i18n_file::Text>& texts, const AllowList& allow) {
  std::map<std::string, std::string> reference;
  for (const auto& e : english) reference[e.key] = e.text;
  std::vector<std::string> out;
  for (const auto& t : texts) {
    const auto it = reference.find(t.key);
    if (it == reference.end() || it->second != t.text) continue;
    if (allow.count({code, t.key}) || allow.count({"*", t.key})) continue;
    out.push_back(code + ".txt line " + std::to_string(t.line) + ": " + t.key + " = \"" + t.text +
                  "\" is the English text");
  }
  return out;
}

// Allow-list lines for a language that no longer match: the key's text now
// differs from English, so the line would hide a future leftover.
std::vector<std::string> staleLines(const std::string& code, const std::vector<i18n_file::Text>& english,
                                    const std::vector<i18n_file::Text>& texts, const AllowList& allow) {
  std::map<std::string, std::string> reference;
  for (const auto& e : english) reference[e.key] = e.text;
  std::vector<std::string> out;
  for (const auto& t : texts) {
    const auto it = reference.find(t.key);
    if (it != reference.end() && it->second != t.text && allow.count({code, t.key})) {
      out.push_back(code + " " + t.key + " is allowed, but its text differs from English");
    }
  }
  return out;
}

std::vector<i18n_file::Text> loadTexts(const std::string& path) {
  std::string content;
  std::string error;
  std::vector<i18n_file::Text> texts;
  EXPECT_TRUE(i18n_file::readWholeFile(path, &content)) << path;
  EXPECT_TRUE(i18n_file::parseTexts(content, &texts, &error)) << path << ": " << error;
  return texts;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += "\n  " + l;
  return out;
}

}  // namespace

TEST(I18nIdentical, CheckFindsLeftoversAndHonoursTheAllowList) {
  auto texts = [](std::vector<std::pair<std::string, std::string>> pairs) {
    std::vector<i18n_file::Text> out;
    int line = 0;
    for (auto& [k, t] : pairs) out.push_back({k, t, ++line});
    return out;
  };
  const auto english = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Save"}, {"a.name", "Pelmora"}});

  std::vector<std::string> faults;
  const AllowList allow = parseAllowList(
      "# comment\n\n* a.name\r\nde a.pause\n  fr   a.ok  # \"OK\" is French too\r\nde a.pause\n  # indented\n", &faults);
  EXPECT_TRUE(faults.empty()) << joinLines(faults);
  EXPECT_EQ(allow, (AllowList{{"*", "a.name"}, {"de", "a.pause"}, {"fr", "a.ok"}}));

  // German: "Pause" allowed for de, the name for everyone; "OK" only for fr.
  const auto german = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Save"}, {"a.name", "Pelmora"}});
  const std::string said = joinLines(leftovers("de", english, german, allow));
  EXPECT_NE(said.find("de.txt line 1: a.ok = \"OK\" is the English text"), std::string::npos) << said;
  EXPECT_NE(said.find("de.txt line 3: a.save"), std::string::npos) << said;
  EXPECT_EQ(said.find("a.pause"), std::string::npos) << said;
  EXPECT_EQ(said.find("a.name"), std::string::npos) << said;

  // French may keep "OK" but not "Pause".
  const auto french = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Enregistrer"}, {"a.name", "Pelmora"}});
  EXPECT_EQ(leftovers("fr", english, french, allow),
            std::vector<std::string>{"fr.txt line 2: a.pause = \"Pause\" is the English text"});
  EXPECT_TRUE(staleLines("fr", english, french, allow).empty());

  // A line whose text has since been translated is stale; "*" lines never are.
  const auto germanDone = texts({{"a.ok", "OK"}, {"a.pause", "Anhalten"}, {"a.save", "Speichern"}, {"a.name", "P"}});
  EXPECT_EQ(staleLines("de", english, germanDone, allow),
            std::vector<std::string>{"de a.pause is allowed, but its text differs from English"});

  for (const char* broken : {"de\n", "de a.ok extra\n", "de\ta.ok\tb\n"}) {
    faults.clear();
    parseAllowList(broken, &faults);
    EXPECT_EQ(faults.size(), 1u) << broken;
  }
}

TEST(I18nIdentical, NoTranslatedTextIsAnUntranslatedLeftover) {
  std::string content;
  std::string error;
  std::vector<i18n_file::LanguageRow> rows;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/languages.txt", &content));
  ASSERT_TRUE(i18n_file::parseLanguages(content, &rows, &error)) << error;
  const std::vector<i18n_file::Text> english = loadTexts(kDataDir + "/en.txt");
  ASSERT_FALSE(english.empty());

  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/identical_ok.txt", &content));
  std::vector<std::string> faults;
  const AllowList allow = parseAllowList(content, &faults);

  // Every line names a listed language other than English (or "*") and a key.
  std::set<std::string> codes;
  for (const auto& r : rows) codes.insert(r.code);
  std::set<std::string> keys;
  for (const auto& e : english) keys.insert(e.key);
  for (const auto& [lang, key] : allow) {
    if (lang == "en" || (lang != "*" && !codes.count(lang))) faults.push_back(lang + " " + key + ": unknown language");
    if (!keys.count(key)) faults.push_back(lang + " " + key + ": not an English key");
  }
  EXPECT_TRUE(faults.empty()) << "identical_ok.txt:" << joinLines(faults);

  // Languages without a file yet show English throughout: the catalogue test
  // lists them, they are not leftovers here.
  std::vector<std::string> found;
  std::vector<std::string> stale;
  int checked = 0;
  for (const auto& r : rows) {
    const std::string path = kDataDir + "/" + r.code + ".txt";
    if (r.code == "en" || !std::filesystem::exists(path)) continue;
    ++checked;
    const std::vector<i18n_file::Text> texts = loadTexts(path);
    for (auto& l : leftovers(r.code, english, texts, allow)) found.push_back(std::move(l));
    for (auto& l : staleLines(r.code, english, texts, allow)) stale.push_back(std::move(l));
  }
  EXPECT_GE(checked, 1);
  EXPECT_TRUE(found.empty()) << found.size()
                             << " texts equal English; translate them, or add \"<lang> <key>\" to identical_ok.txt"
                             << " where English is right:" << joinLines(found);
  EXPECT_TRUE(stale.empty()) << "identical_ok.txt lines no longer needed:" << joinLines(stale);
}
