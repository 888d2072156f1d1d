// i18n_file: the translation data files in src/core/i18n/ (languages.txt and
// one <code>.txt per language, format in the README there): reading them and
// checking a language against the English reference. The build's table
// generator (tools/i18n_gen.cpp) and the tests use it; the program itself only
// reads the generated tables (i18n_data.h).
//
// Pure functions without shared state; safe from any thread.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace i18n_file {

// One "key = text" line of a language file (escapes already resolved).
struct Text {
  std::string key;
  std::string text;
  int line = 0;  // 1-based line in the file
};

// One row of languages.txt.
struct LanguageRow {
  std::string code;
  std::string nativeName;
  std::string englishName;
  bool rtl = false;
  int line = 0;
};

// Reading. Each stops at the first syntax fault, returns false and writes
// "line N: reason" into *error. Content faults (a missing key, an empty text)
// are not syntax faults: see the checks below.

// Parses a language file: "key = text" lines, blank lines and "#" comments;
// "\n" and "\\" are the only escapes; the bytes must be valid UTF-8.
bool parseTexts(std::string_view content, std::vector<Text>* out, std::string* error);
// Parses languages.txt: "code | native name | English name | ltr or rtl".
bool parseLanguages(std::string_view content, std::vector<LanguageRow>* out, std::string* error);
// The whole file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* content);

// Checking. Each result line names the line and key concerned; empty = sound.

// The distinct {{name}} placeholders of a text, sorted.
std::vector<std::string> placeholders(std::string_view text);
// Faults of the reference itself: duplicate keys and empty texts.
std::vector<std::string> referenceProblems(const std::vector<Text>& english);
// Faults of a translation against the reference: keys missing, unknown,
// repeated or out of the reference's order, empty texts, and placeholders
// that differ from the English text's.
std::vector<std::string> translationProblems(const std::vector<Text>& english,
                                             const std::vector<Text>& texts);

// Untranslated leftovers: a translated text equal to its English text is
// almost always a line copied from en.txt and forgotten. identical_ok.txt
// lists the few that are right ("<lang> <key>", "* <key>" for every
// language, "#" starts a comment): (language or "*", key) pairs.
using AllowList = std::set<std::pair<std::string, std::string>>;
// Parses identical_ok.txt; each line that is not two words is appended to
// *faults. Repeated lines are harmless.
AllowList parseAllowList(std::string_view content, std::vector<std::string>* faults);
// Texts of language `code` equal to English that the list does not allow,
// and lines of the list for `code` whose text now differs from English.
std::vector<std::string> identicalProblems(const std::string& code, const std::vector<Text>& english,
                                           const std::vector<Text>& texts, const AllowList& allow);

}  // namespace i18n_file
