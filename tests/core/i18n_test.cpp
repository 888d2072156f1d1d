// Translations: language choice, lookups and placeholders, the data file reader and checks, the shipped files.
#include "core/i18n.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/i18n_file.h"
#include "support/test_support.h"

using testing_support::ScopedEnv;

namespace {

const std::string kDataDir = std::string(KORVELLE_SOURCE_DIR) + "/src/core/i18n";

// The four locale variables for one scope; nullptr leaves a variable unset.
struct Locale {
  ScopedEnv language, lcAll, lcMessages, lang;
  Locale(const char* l, const char* all, const char* messages, const char* lng)
      : language("LANGUAGE", l), lcAll("LC_ALL", all), lcMessages("LC_MESSAGES", messages), lang("LANG", lng) {}
};

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += "\n  " + l;
  return out;
}

// Texts numbered from line 1.
std::vector<i18n_file::Text> texts(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<i18n_file::Text> out;
  for (const auto& [k, t] : pairs) out.push_back({k, t, static_cast<int>(out.size()) + 1});
  return out;
}

}  // namespace

TEST(I18n, DetectsTheLanguageFromTheLocaleVariables) {
  const std::pair<const char*, const char*> byLang[] = {
      {nullptr, "en"},       {"pt_BR.UTF-8", "pt"}, {"zh_HK", "zh_TW"}, {"ZH_hant", "zh_TW"},
      {"zh-tw", "zh_TW"},    {"zh_CN.UTF-8", "zh"}, {"sr@latin", "sr"}, {"DE_de.utf8", "de"},
      {"nb_NO.UTF-8", "nb"}, {"C", "en"},           {"fil_PH", "en"},   {"_DE.UTF-8", "en"},
  };
  for (const auto& [lang, expected] : byLang) {
    Locale locale(nullptr, nullptr, nullptr, lang);
    EXPECT_EQ(i18n::detectSystemLanguage(), expected) << (lang ? lang : "(unset)");
  }
  // LANGUAGE lists several, the first match wins; then LANGUAGE, LC_ALL,
  // LC_MESSAGES, LANG in turn, passing over what matches nothing.
  struct Case {
    const char *language, *lcAll, *lcMessages, *lang, *expected;
  };
  const Case cases[] = {
      {"xx:de", nullptr, nullptr, "fr_FR", "de"},     {"xx:yy", nullptr, nullptr, "it_IT", "it"},
      {":fr::de", nullptr, nullptr, nullptr, "fr"},   {"", nullptr, nullptr, "de_DE.UTF-8", "de"},
      {nullptr, "es_ES.UTF-8", "fr_FR", "de_DE", "es"}, {nullptr, nullptr, "fr_FR", "de_DE", "fr"},
      {nullptr, "C", "fr_FR", nullptr, "fr"},         {"ar_EG:de", "ja_JP", nullptr, nullptr, "ar"},
  };
  for (const Case& c : cases) {
    Locale locale(c.language, c.lcAll, c.lcMessages, c.lang);
    auto shown = [](const char* v) { return v ? v : "(unset)"; };
    EXPECT_EQ(i18n::detectSystemLanguage(), c.expected)
        << shown(c.language) << " " << shown(c.lcAll) << " " << shown(c.lcMessages) << " " << shown(c.lang);
  }
}

TEST(I18n, SetLanguageMatchesCodesExactlyAndFollowsTheSystemWhenEmpty) {
  Locale locale(nullptr, nullptr, nullptr, "pt_BR.UTF-8");
  i18n::setLanguage("de");
  EXPECT_EQ(i18n::currentLanguage().code, "de");
  EXPECT_EQ(i18n::tr("app.image"), "Bild");
  EXPECT_EQ(i18n::tr("no.such.key"), "no.such.key");  // no fall-back to English
  i18n::setLanguage("");  // follow the system: LANG asks for Portuguese
  EXPECT_EQ(i18n::currentLanguage().code, "pt");
  for (const char* unknown : {"pt-BR", "DE", "zh_tw", "xx", "de_DE", " de"}) {
    i18n::setLanguage(unknown);
    EXPECT_EQ(i18n::currentLanguage().code, "en") << unknown;
    EXPECT_EQ(i18n::tr("app.image"), "Image") << unknown;
  }
  i18n::setLanguage("he");
  EXPECT_TRUE(i18n::rightToLeft());
  i18n::setLanguage("en");
  EXPECT_FALSE(i18n::rightToLeft());
  EXPECT_EQ(i18n::languages().front().code, "de");  // the list's order, by hand
  EXPECT_EQ(i18n::languages().back().nativeName, "繁體中文");
}

TEST(I18n, FillsPlaceholders) {
  i18n::setLanguage("en");
  EXPECT_EQ(i18n::tr("errors.skipped", {{"count", "3"}}), "3 file(s) skipped — they could not be opened.");
  EXPECT_EQ(i18n::tr("about.version", {{"version", "1.0.0"}, {"build", "1079"}}), "v1.0.0 · BUILD 1079");
  // A placeholder without a value stays; names the text lacks are ignored.
  EXPECT_EQ(i18n::tr("resize.title", {{"width", "%d"}, {"depth", "9"}}), "Resize · currently %d×{{height}}");
  EXPECT_EQ(i18n::tr("resize.title", {}), "Resize · currently {{width}}×{{height}}");
  EXPECT_EQ(i18n::tr("busy.remaining", {{"time", ""}}), "about  left");

  // An unknown key is its own text: every occurrence is replaced, pairs in order.
  EXPECT_EQ(i18n::tr("{{n}} of {{n}}{{n}}", {{"n", "2"}}), "2 of 22");
  EXPECT_EQ(i18n::tr("{{a}}!", {{"a", "{{a}}{{a}}"}}), "{{a}}{{a}}!");  // not expanded again
  EXPECT_EQ(i18n::tr("{{a}}", {{"a", "{{b}}"}, {"b", "x"}}), "x");      // a later pair sees it
  EXPECT_EQ(i18n::tr("{{a}}", {{"b", "x"}, {"a", "{{b}}"}}), "{{b}}");
  EXPECT_EQ(i18n::tr("{{a}}", {{nullptr, "x"}, {"a", "y"}}), "y");

  // The crash message: three lines, the path alone on the middle one.
  const std::string crash = i18n::tr("errors.crashBody", {{"path", "/home/u/r.txt"}});
  EXPECT_EQ(std::count(crash.begin(), crash.end(), '\n'), 2) << crash;
  EXPECT_NE(crash.find("\n/home/u/r.txt\n"), std::string::npos) << crash;
}

// The table generator builds with a faulty translation (falling back to English); this is where it fails.
TEST(I18n, ShippedDataFilesAreCompleteTranslations) {
  std::string content, error;
  std::vector<i18n_file::LanguageRow> rows;
  std::vector<i18n_file::Text> english;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/languages.txt", &content));
  ASSERT_TRUE(i18n_file::parseLanguages(content, &rows, &error)) << error;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/en.txt", &content));
  ASSERT_TRUE(i18n_file::parseTexts(content, &english, &error)) << error;
  std::vector<std::string> faults;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/identical_ok.txt", &content));
  const i18n_file::AllowList allow = i18n_file::parseAllowList(content, &faults);
  EXPECT_TRUE(faults.empty()) << "identical_ok.txt:" << joinLines(faults);
  for (const i18n_file::LanguageRow& row : rows) {
    std::vector<i18n_file::Text> own;
    ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/" + row.code + ".txt", &content)) << "no file: " << row.code;
    ASSERT_TRUE(i18n_file::parseTexts(content, &own, &error)) << row.code << ": " << error;
    EXPECT_TRUE(i18n_file::translationProblems(english, own).empty())
        << row.code << ".txt:" << joinLines(i18n_file::translationProblems(english, own));
    if (row.code == "en") continue;
    const std::vector<std::string> same = i18n_file::identicalProblems(row.code, english, own, allow);
    EXPECT_TRUE(same.empty()) << row.code << ".txt: translate these, or list them in identical_ok.txt:"
                              << joinLines(same);
  }
  for (const auto& entry : std::filesystem::directory_iterator(kDataDir)) {
    const auto& p = entry.path();
    if (p.extension() != ".txt" || p.filename() == "languages.txt" || p.filename() == "identical_ok.txt") continue;
    const bool listed = std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return p.stem() == r.code; });
    EXPECT_TRUE(listed) << p.filename() << " belongs to no language";
  }
}

TEST(I18nFile, TranslationCheckNamesEveryKindOfFault) {
  const auto english = texts({{"a.one", "Hello {{name}}"}, {"a.two", "Two"}, {"b.three", "{{x}} and {{y}}"}});
  EXPECT_TRUE(i18n_file::referenceProblems(english).empty());
  // Sound: same keys in order, placeholders in any order and repeated.
  EXPECT_TRUE(i18n_file::translationProblems(
                  english, texts({{"a.one", "Hallo {{name}}, {{name}}"}, {"a.two", "Zwei"}, {"b.three", "{{y}} {{x}}"}}))
                  .empty());

  const std::pair<std::string, std::string> one{"a.one", "Hallo {{name}}"}, two{"a.two", "Zwei"},
      three{"b.three", "{{x}} {{y}}"};
  const struct {
    std::vector<i18n_file::Text> texts;
    const char* says;
  } faults[] = {
      {texts({one, three}), "a.two is missing"},
      {texts({two, one, three}), "line 2: a.one is out of order"},
      {texts({one, {"a.two", ""}, three}), "line 2: a.two has an empty text"},
      {texts({{"a.one", "Hallo {{nmae}}"}, two, three}), "line 1: a.one has placeholders {{nmae}}, English has {{name}}"},
      {texts({{"a.one", "Hallo"}, two, three}), "has placeholders none"},
      {texts({one, {"a.two", "Zwei {{name}}"}, three}), "a.two has placeholders {{name}}, English has none"},
      {texts({{"a.one", "Hallo {{ name }}"}, two, three}), "a.one has placeholders"},
      {texts({one, two, {"a.twoo", "?"}, three}), "line 3: a.twoo is not an English key"},
      {texts({one, two, {"a.two", "Zwo"}, three}), "line 3: a.two appears twice"},
  };
  for (const auto& f : faults) {
    const std::string said = joinLines(i18n_file::translationProblems(english, f.texts));
    EXPECT_NE(said.find(f.says), std::string::npos) << "expected: " << f.says << said;
  }
  const std::string said = joinLines(i18n_file::referenceProblems(texts({{"a.one", "x"}, {"a.two", ""}, {"a.one", "y"}})));
  EXPECT_NE(said.find("line 2: a.two has an empty text"), std::string::npos) << said;
  EXPECT_NE(said.find("line 3: a.one appears twice"), std::string::npos) << said;
}

TEST(I18nFile, ParsesTheDataFileFormatAndRejectsMalformedLines) {
  std::vector<i18n_file::Text> got;
  std::string error;
  const std::string good =
      "\xEF\xBB\xBF# comment\r\n\n   # indented comment\n"
      "a.b = Hello\r\n"
      "a.c=  two = signs # not a comment  \n"
      "a.d = line one\\nline two \\\\ back\\\\n\n"
      "a.e =\n"
      "a.f = „Grüße“ · 日本語 😀";  // no final newline
  ASSERT_TRUE(i18n_file::parseTexts(good, &got, &error)) << error;
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].key, "a.b");
  EXPECT_EQ(got[0].text, "Hello");
  EXPECT_EQ(got[0].line, 4);
  EXPECT_EQ(got[1].text, "two = signs # not a comment");
  EXPECT_EQ(got[2].text, "line one\nline two \\ back\\n");
  EXPECT_EQ(got[3].text, "");  // a content fault, found by the check
  EXPECT_EQ(got[4].text, "„Grüße“ · 日本語 😀");
  EXPECT_EQ(got[4].line, 8);
  ASSERT_TRUE(i18n_file::parseTexts("a.z = again\n", &got, &error)) << error;
  EXPECT_EQ(got.size(), 1u);  // a second read replaces the first

  const std::pair<std::string, const char*> bad[] = {
      {"a.b = x\njust text\n", "line 2: expected"},
      {"= x\n", "line 1: invalid key"},
      {"a b = x\n", "line 1: invalid key"},
      {"a.b. = x\n", "line 1: invalid key"},
      {"a.b = tab\\there\n", "line 1: unknown escape"},
      {"a.b = trailing\\\n", "line 1: unknown escape"},
      {"a.b = \xC0\xAF\n", "line 1: not valid UTF-8"},          // overlong
      {"a.b = \xED\xA0\x80\n", "line 1: not valid UTF-8"},      // surrogate
      {"a.b = \xE2\x80\n", "line 1: not valid UTF-8"},          // cut short
      {"a.b = \xF4\x90\x80\x80\n", "line 1: not valid UTF-8"},  // above U+10FFFF
  };
  for (const auto& [content, says] : bad) {
    error.clear();
    EXPECT_FALSE(i18n_file::parseTexts(content, &got, &error)) << content;
    EXPECT_EQ(error.rfind(says, 0), 0u) << content << " -> " << error;
  }

  std::vector<i18n_file::LanguageRow> rows;
  ASSERT_TRUE(i18n_file::parseLanguages(
      "# c\nde | Deutsch | German | ltr\nzh_TW|繁體中文|Chinese (Traditional)|ltr\nar | العربية | Arabic | rtl\n", &rows,
      &error))
      << error;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].code, "zh_TW");
  EXPECT_EQ(rows[1].nativeName, "繁體中文");
  EXPECT_TRUE(rows[2].rtl);
  EXPECT_FALSE(rows[0].rtl);
  for (const char* broken : {"de | Deutsch | German\n", "de | Deutsch | German | up\n", "DE | Deutsch | German | ltr\n",
                             "zh_tw | x | y | ltr\n", "de |  | German | ltr\n",
                             "de | Deutsch | German | ltr\nde | Deutsch | German | ltr\n"}) {
    EXPECT_FALSE(i18n_file::parseLanguages(broken, &rows, &error)) << broken;
  }
}

TEST(I18nFile, IdenticalCheckFindsLeftoversAndHonoursTheAllowList) {
  const auto english = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Save"}, {"a.name", "Pelmora"}});
  std::vector<std::string> faults;
  const i18n_file::AllowList allow = i18n_file::parseAllowList(
      "# comment\n\n* a.name\r\nde a.pause\n  fr   a.ok  # \"OK\" is French too\r\nde a.pause\n  # indented\n", &faults);
  EXPECT_TRUE(faults.empty()) << joinLines(faults);
  EXPECT_EQ(allow, (i18n_file::AllowList{{"*", "a.name"}, {"de", "a.pause"}, {"fr", "a.ok"}}));

  // German: "Pause" allowed for de, the name for everyone; "OK" only for fr.
  EXPECT_EQ(i18n_file::identicalProblems("de", english, english, allow),
            (std::vector<std::string>{"line 1: a.ok = \"OK\" is the English text",
                                      "line 3: a.save = \"Save\" is the English text"}));
  const auto french = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Enregistrer"}, {"a.name", "Pelmora"}});
  EXPECT_EQ(i18n_file::identicalProblems("fr", english, french, allow),
            std::vector<std::string>{"line 2: a.pause = \"Pause\" is the English text"});
  // A line whose text has since been translated is stale; "*" lines never are.
  const auto germanDone = texts({{"a.ok", "Ok"}, {"a.pause", "Anhalten"}, {"a.save", "Speichern"}, {"a.name", "P"}});
  EXPECT_EQ(i18n_file::identicalProblems("de", english, germanDone, allow),
            std::vector<std::string>{"identical_ok.txt: de a.pause is allowed, but its text differs from English"});

  for (const char* broken : {"de\n", "de a.ok extra\n", "de\ta.ok\tb\n"}) {
    faults.clear();
    i18n_file::parseAllowList(broken, &faults);
    EXPECT_EQ(faults.size(), 1u) << broken;
  }
}
