// Translations: choosing the language, looking texts up and filling their
// placeholders, and the consistency of the catalogue (the built-in tables and
// the data files they are generated from).
#include "core/i18n.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/i18n_data.h"
#include "core/i18n_file.h"
#include "support/test_support.h"

using testing_support::ScopedEnv;

namespace {

const std::string kDataDir = std::string(KORVELLE_SOURCE_DIR) + "/src/core/i18n";

// The four locale variables for one scope; nullptr leaves a variable unset.
struct Locale {
  Locale(const char* language, const char* lcAll, const char* lcMessages, const char* lang)
      : language_("LANGUAGE", language),
        lcAll_("LC_ALL", lcAll),
        lcMessages_("LC_MESSAGES", lcMessages),
        lang_("LANG", lang) {}

 private:
  ScopedEnv language_, lcAll_, lcMessages_, lang_;
};

std::vector<i18n_file::Text> loadTexts(const std::string& path) {
  std::string content;
  std::vector<i18n_file::Text> texts;
  std::string error;
  EXPECT_TRUE(i18n_file::readWholeFile(path, &content)) << path;
  EXPECT_TRUE(i18n_file::parseTexts(content, &texts, &error)) << path << ": " << error;
  return texts;
}

const i18n_data::Catalog& row(const std::string& code) {
  for (const auto& c : i18n_data::kCatalogs) {
    if (code == c.code) return c;
  }
  ADD_FAILURE() << "no catalogue row " << code;
  return i18n_data::kCatalogs[1];
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += "\n  " + l;
  return out;
}

}  // namespace

// Declared first: gtest runs a file's tests in order, and ctest runs each alone.
TEST(I18n, TranslatesInEnglishBeforeAnyLanguageIsChosen) {
  EXPECT_EQ(i18n::tr("app.image"), "Image");
  EXPECT_EQ(i18n::tr("start.pickVideo"), "Choose video");
  EXPECT_EQ(i18n::currentLanguage().code, "en");
  EXPECT_FALSE(i18n::rightToLeft());
}

TEST(I18n, DetectsTheLanguageFromTheLocaleVariables) {
  struct Case {
    const char* language;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, nullptr, "en"},  // nothing set
      {nullptr, nullptr, nullptr, "pt_BR.UTF-8", "pt"},
      {nullptr, nullptr, nullptr, "pt-BR", "pt"},
      {nullptr, nullptr, nullptr, "zh_HK", "zh_TW"},
      {nullptr, nullptr, nullptr, "zh_TW.UTF-8", "zh_TW"},
      {nullptr, nullptr, nullptr, "ZH_hant", "zh_TW"},  // compared in lower case
      {nullptr, nullptr, nullptr, "zh-Hant-CN", "zh_TW"},
      {nullptr, nullptr, nullptr, "zh_MO.UTF-8", "zh_TW"},
      {nullptr, nullptr, nullptr, "zh-tw", "zh_TW"},
      {nullptr, nullptr, nullptr, "zh_CN.UTF-8", "zh"},
      {nullptr, nullptr, nullptr, "zh_SG", "zh"},
      {nullptr, nullptr, nullptr, "sr@latin", "sr"},
      {nullptr, nullptr, nullptr, "sr_RS@latin", "sr"},
      {nullptr, nullptr, nullptr, "DE_de.utf8", "de"},
      {nullptr, nullptr, nullptr, "nb_NO.UTF-8", "nb"},
      {nullptr, nullptr, nullptr, "he_IL.UTF-8", "he"},
      {nullptr, nullptr, nullptr, "C", "en"},
      {nullptr, nullptr, nullptr, "POSIX", "en"},
      {nullptr, nullptr, nullptr, "C.UTF-8", "en"},
      {nullptr, nullptr, nullptr, "no_NO", "en"},    // "no" is not a catalogue code
      {nullptr, nullptr, nullptr, "fil_PH", "en"},
      {nullptr, nullptr, nullptr, "_DE.UTF-8", "en"},  // nothing before the underscore
      // LANGUAGE lists several; the first entry that matches wins, then the
      // variables in the order LANGUAGE, LC_ALL, LC_MESSAGES, LANG.
      {"xx:de", nullptr, nullptr, "fr_FR", "de"},
      {"xx:yy", nullptr, nullptr, "it_IT", "it"},
      {":fr::de", nullptr, nullptr, nullptr, "fr"},
      {"", nullptr, nullptr, "de_DE.UTF-8", "de"},  // empty means unset
      {nullptr, "es_ES.UTF-8", "fr_FR", "de_DE", "es"},
      {nullptr, nullptr, "fr_FR", "de_DE", "fr"},
      {nullptr, "C", "fr_FR", nullptr, "fr"},  // a variable that matches nothing is passed over
      {"ar_EG:de", "ja_JP", nullptr, nullptr, "ar"},
  };
  for (const Case& c : cases) {
    Locale locale(c.language, c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(i18n::detectSystemLanguage(), c.expected)
        << "LANGUAGE=" << (c.language ? c.language : "(unset)") << " LC_ALL=" << (c.lcAll ? c.lcAll : "(unset)")
        << " LC_MESSAGES=" << (c.lcMessages ? c.lcMessages : "(unset)") << " LANG=" << (c.lang ? c.lang : "(unset)");
  }
}

TEST(I18n, SetLanguageMatchesCodesExactlyAndFollowsTheSystemWhenEmpty) {
  Locale locale(nullptr, nullptr, nullptr, "pt_BR.UTF-8");

  i18n::setLanguage("de");
  EXPECT_EQ(i18n::currentLanguage().code, "de");
  EXPECT_EQ(i18n::tr("app.image"), "Bild");
  EXPECT_EQ(i18n::tr("no.such.key"), "no.such.key");  // no fall-back to English

  i18n::setLanguage("pt-BR");  // a locale name, not a code
  EXPECT_EQ(i18n::currentLanguage().code, "en");
  EXPECT_EQ(i18n::tr("app.image"), "Image");

  i18n::setLanguage("");  // follow the system: LANG asks for Portuguese
  EXPECT_EQ(i18n::currentLanguage().code, "pt");

  for (const char* unknown : {"DE", "zh_tw", "xx", "de_DE", " de"}) {
    i18n::setLanguage(unknown);
    EXPECT_EQ(i18n::currentLanguage().code, "en") << unknown;
  }
  i18n::setLanguage("zh_TW");
  EXPECT_EQ(i18n::currentLanguage().code, "zh_TW");
  EXPECT_EQ(i18n::currentLanguage().englishName, "Chinese (Traditional)");

  {
    Locale german(nullptr, nullptr, nullptr, "de_AT.UTF-8");
    i18n::setLanguage("");
    EXPECT_EQ(i18n::tr("settings.title"), "Einstellungen");
  }
  i18n::setLanguage("en");
  EXPECT_EQ(i18n::tr("settings.title"), "Settings");
}

TEST(I18n, FillsPlaceholders) {
  i18n::setLanguage("en");
  EXPECT_EQ(i18n::tr("errors.skipped", {{"count", "3"}}), "3 file(s) skipped — they could not be opened.");
  EXPECT_EQ(i18n::tr("about.version", {{"version", "1.0.0"}, {"build", "1079"}}), "v1.0.0 · BUILD 1079");
  // A placeholder without a value stays; names the text lacks are ignored.
  EXPECT_EQ(i18n::tr("resize.title", {{"width", "%d"}, {"depth", "9"}}), "Resize · currently %d×{{height}}");
  EXPECT_EQ(i18n::tr("resize.title", {}), "Resize · currently {{width}}×{{height}}");
  EXPECT_EQ(i18n::tr("busy.remaining", {{"time", ""}}), "about  left");

  // An unknown key is its own text, placeholders included: every occurrence
  // is replaced, pairs in the given order.
  EXPECT_EQ(i18n::tr("{{n}} of {{n}}{{n}}", {{"n", "2"}}), "2 of 22");
  EXPECT_EQ(i18n::tr("{{a}}!", {{"a", "{{a}}{{a}}"}}), "{{a}}{{a}}!");  // not expanded again
  EXPECT_EQ(i18n::tr("{{a}}", {{"a", "{{b}}"}, {"b", "x"}}), "x");      // a later pair sees it
  EXPECT_EQ(i18n::tr("{{a}}", {{"b", "x"}, {"a", "{{b}}"}}), "{{b}}");
  EXPECT_EQ(i18n::tr("{{a}}", {{nullptr, "x"}, {"a", "y"}}), "y");

  // The crash message: three lines, the path alone on the middle one.
  const std::string crash = i18n::tr("errors.crashBody", {{"path", "/home/u/.local/share/Korvelle/r.txt"}});
  EXPECT_EQ(std::count(crash.begin(), crash.end(), '\n'), 2) << crash;
  EXPECT_NE(crash.find("\n/home/u/.local/share/Korvelle/r.txt\n"), std::string::npos) << crash;

  i18n::setLanguage("de");
  EXPECT_EQ(i18n::tr("errors.skipped", {{"count", "3"}}),
            "3 Datei(en) übersprungen – sie konnten nicht geöffnet werden.");
  EXPECT_EQ(i18n::tr("save.doneBody", {{"name", "strand_v2.jpg"}}), "„strand_v2.jpg“ wurde gespeichert.");
  i18n::setLanguage("en");
}

TEST(I18n, RightToLeftFollowsTheChosenLanguage) {
  for (const i18n::Language& l : i18n::languages()) {
    i18n::setLanguage(l.code);
    EXPECT_EQ(i18n::rightToLeft(), l.rtl) << l.code;
  }
  i18n::setLanguage("he");
  EXPECT_TRUE(i18n::rightToLeft());  // by hand: Hebrew
  i18n::setLanguage("en");
  EXPECT_FALSE(i18n::rightToLeft());
}

// The list the settings offer is the catalogue table, row for row; its
// contents are the data files' (checked against languages.txt below).
TEST(I18n, LanguageListIsTheCatalogueTable) {
  const std::vector<i18n::Language>& list = i18n::languages();
  ASSERT_EQ(list.size(), std::size(i18n_data::kCatalogs));
  std::set<std::string> codes;
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].code, i18n_data::kCatalogs[i].code) << i;
    EXPECT_EQ(list[i].nativeName, i18n_data::kCatalogs[i].nativeName) << i;
    EXPECT_EQ(list[i].englishName, i18n_data::kCatalogs[i].englishName) << i;
    EXPECT_EQ(list[i].rtl, i18n_data::kCatalogs[i].rtl) << i;
    EXPECT_TRUE(codes.insert(list[i].code).second) << "twice: " << list[i].code;
  }
  EXPECT_EQ(list.front().code, "de");  // hand-checked ends of the order
  EXPECT_EQ(list.back().code, "zh_TW");
  EXPECT_EQ(list.back().nativeName, "繁體中文");
}

TEST(I18n, EveryCatalogueHoldsTheEnglishKeysInOrderWithTheirPlaceholders) {
  const i18n_data::Catalog& en = row("en");
  ASSERT_GT(en.count, 0);
  for (int32_t i = 1; i < en.count; ++i) {
    EXPECT_LT(std::strcmp(en.entries[i - 1].key, en.entries[i].key), 0)
        << "keys ascend byte-wise: " << en.entries[i - 1].key << " / " << en.entries[i].key;
  }

  // The keys that take values, and the names they take.
  const std::map<std::string, std::vector<std::string>> expectedPlaceholders = {
      {"about.emailA11y", {"email"}},        {"about.trademarksBody", {"brands"}},
      {"about.version", {"build", "version"}}, {"adjust.slider", {"name", "value"}},
      {"append.formatBody", {"current", "new"}}, {"busy.remaining", {"time"}},
      {"crop.handle", {"corner"}},           {"errors.crashBody", {"path"}},
      {"errors.noAccess", {"name"}},         {"errors.skipped", {"count"}},
      {"errors.unsupportedGeneric", {"format"}}, {"errors.unsupportedRaw", {"format"}},
      {"meta.editedWith", {"date"}},         {"resize.slider", {"value"}},
      {"resize.title", {"height", "width"}}, {"save.doneBody", {"name"}},
      {"save.existsBody", {"name"}},         {"settings.qualityA11y", {"value"}},
      {"transform.slider", {"value"}},
  };
  std::map<std::string, std::vector<std::string>> found;
  for (int32_t i = 0; i < en.count; ++i) {
    auto names = i18n_file::placeholders(en.entries[i].text);
    if (!names.empty()) found[en.entries[i].key] = names;
  }
  EXPECT_EQ(found, expectedPlaceholders);

  for (const i18n_data::Catalog& c : i18n_data::kCatalogs) {
    ASSERT_EQ(c.count, en.count) << c.code;
    for (int32_t i = 0; i < c.count; ++i) {
      const i18n_data::Entry& e = c.entries[i];
      ASSERT_STREQ(e.key, en.entries[i].key) << c.code << " entry " << i;
      EXPECT_GT(std::strlen(e.text), 0u) << c.code << " " << e.key;
      EXPECT_EQ(i18n_file::placeholders(e.text), i18n_file::placeholders(en.entries[i].text))
          << c.code << " " << e.key << ": " << e.text;
    }
  }
}

// The data files are what translators edit: each existing file must be
// complete and consistent with en.txt, and the built tables must hold exactly
// its texts. Languages without a file yet are listed, not failed.
TEST(I18n, DataFilesAreCompleteAndMatchTheBuiltTables) {
  std::string content;
  std::string error;
  std::vector<i18n_file::LanguageRow> rows;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/languages.txt", &content));
  ASSERT_TRUE(i18n_file::parseLanguages(content, &rows, &error)) << error;
  ASSERT_EQ(rows.size(), std::size(i18n_data::kCatalogs));

  const std::vector<i18n_file::Text> english = loadTexts(kDataDir + "/en.txt");
  EXPECT_TRUE(i18n_file::referenceProblems(english).empty()) << joinLines(i18n_file::referenceProblems(english));
  const i18n_data::Catalog& en = row("en");

  // Every line of the allow-list names a listed language other than English
  // (or "*") and an English key.
  std::vector<std::string> faults;
  ASSERT_TRUE(i18n_file::readWholeFile(kDataDir + "/identical_ok.txt", &content));
  const i18n_file::AllowList allow = i18n_file::parseAllowList(content, &faults);
  for (const auto& [lang, key] : allow) {
    const bool listed = std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.code == lang; });
    if (lang == "en" || (lang != "*" && !listed)) faults.push_back(lang + " " + key + ": unknown language");
    const bool known = std::any_of(english.begin(), english.end(), [&](const auto& e) { return e.key == key; });
    if (!known) faults.push_back(lang + " " + key + ": not an English key");
  }
  EXPECT_TRUE(faults.empty()) << "identical_ok.txt:" << joinLines(faults);

  std::vector<std::string> untranslated;
  for (size_t r = 0; r < rows.size(); ++r) {
    const i18n_data::Catalog& built = i18n_data::kCatalogs[r];
    EXPECT_EQ(rows[r].code, built.code);
    EXPECT_EQ(rows[r].nativeName, built.nativeName);
    EXPECT_EQ(rows[r].englishName, built.englishName);
    EXPECT_EQ(rows[r].rtl, built.rtl);

    const std::string path = kDataDir + "/" + rows[r].code + ".txt";
    if (!std::filesystem::exists(path)) {
      untranslated.push_back(rows[r].code);
      EXPECT_EQ(built.entries, en.entries) << rows[r].code << " has no data file but its own table";
      continue;
    }
    const std::vector<i18n_file::Text> texts = loadTexts(path);
    const std::vector<std::string> problems = i18n_file::translationProblems(english, texts);
    EXPECT_TRUE(problems.empty()) << rows[r].code << ".txt:" << joinLines(problems);
    if (rows[r].code != "en") {
      const std::vector<std::string> same = i18n_file::identicalProblems(rows[r].code, english, texts, allow);
      EXPECT_TRUE(same.empty()) << rows[r].code << ".txt: translate these, or list them in identical_ok.txt "
                                << "where English is right:" << joinLines(same);
    }
    if (!problems.empty()) continue;
    ASSERT_EQ(static_cast<size_t>(built.count), texts.size()) << rows[r].code;
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(texts[i].text, built.entries[i].text) << rows[r].code << " " << texts[i].key;
    }
  }

  // No data file may belong to a language the table does not list.
  for (const auto& entry : std::filesystem::directory_iterator(kDataDir)) {
    const auto& p = entry.path();
    // identical_ok.txt is the allow-list of texts equal to English, not a language.
    if (p.extension() != ".txt" || p.filename() == "languages.txt" || p.filename() == "identical_ok.txt") continue;
    const bool listed = std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return p.stem() == r.code; });
    EXPECT_TRUE(listed) << p.filename() << " belongs to no language";
  }

  std::string list;
  for (const auto& code : untranslated) list += (list.empty() ? "" : " ") + code;
  RecordProperty("untranslated", list);
  std::printf("Still untranslated (English texts shown): %zu of %zu: %s\n", untranslated.size(), rows.size(),
              list.c_str());
  // Every language of the table ships its own catalogue now; a row without a
  // file would show English to its users.
  EXPECT_TRUE(untranslated.empty()) << "untranslated: " << list;
}

TEST(I18nFile, TranslationCheckNamesEveryKindOfFault) {
  auto texts = [](std::vector<std::pair<std::string, std::string>> pairs) {
    std::vector<i18n_file::Text> out;
    int line = 0;
    for (auto& [k, t] : pairs) out.push_back({k, t, ++line});
    return out;
  };
  const auto english = texts({{"a.one", "Hello {{name}}"}, {"a.two", "Two"}, {"b.three", "{{x}} and {{y}}"}});
  EXPECT_TRUE(i18n_file::referenceProblems(english).empty());

  // Sound: same keys in order, placeholders in any order and repeated.
  EXPECT_TRUE(i18n_file::translationProblems(english, texts({{"a.one", "Hallo {{name}}, {{name}}"},
                                                              {"a.two", "Zwei"},
                                                              {"b.three", "{{y}} und {{x}}"}}))
                  .empty());

  struct Fault {
    std::vector<i18n_file::Text> texts;
    const char* says;
  };
  const Fault faults[] = {
      {texts({{"a.one", "Hallo {{name}}"}, {"b.three", "{{x}} {{y}}"}}), "a.two is missing"},
      {texts({{"a.two", "Zwei"}, {"a.one", "Hallo {{name}}"}, {"b.three", "{{x}} {{y}}"}}),
       "line 2: a.one is out of order"},
      {texts({{"a.one", "Hallo {{name}}"}, {"a.two", ""}, {"b.three", "{{x}} {{y}}"}}),
       "line 2: a.two has an empty text"},
      {texts({{"a.one", "Hallo {{nmae}}"}, {"a.two", "Zwei"}, {"b.three", "{{x}} {{y}}"}}),
       "line 1: a.one has placeholders {{nmae}}, English has {{name}}"},
      {texts({{"a.one", "Hallo"}, {"a.two", "Zwei"}, {"b.three", "{{x}} {{y}}"}}), "has placeholders none"},
      {texts({{"a.one", "Hallo {{name}}"}, {"a.two", "Zwei {{name}}"}, {"b.three", "{{x}} {{y}}"}}),
       "a.two has placeholders {{name}}, English has none"},
      {texts({{"a.one", "Hallo {{ name }}"}, {"a.two", "Zwei"}, {"b.three", "{{x}} {{y}}"}}),
       "a.one has placeholders"},
      {texts({{"a.one", "Hallo {{name}}"}, {"a.two", "Zwei"}, {"a.twoo", "?"}, {"b.three", "{{x}} {{y}}"}}),
       "line 3: a.twoo is not an English key"},
      {texts({{"a.one", "Hallo {{name}}"}, {"a.two", "Zwei"}, {"a.two", "Zwo"}, {"b.three", "{{x}} {{y}}"}}),
       "line 3: a.two appears twice"},
  };
  for (const Fault& f : faults) {
    const std::vector<std::string> problems = i18n_file::translationProblems(english, f.texts);
    ASSERT_FALSE(problems.empty()) << f.says;
    EXPECT_NE(joinLines(problems).find(f.says), std::string::npos) << "expected: " << f.says << joinLines(problems);
  }

  const auto broken = texts({{"a.one", "x"}, {"a.two", ""}, {"a.one", "y"}});
  const std::string said = joinLines(i18n_file::referenceProblems(broken));
  EXPECT_NE(said.find("line 2: a.two has an empty text"), std::string::npos) << said;
  EXPECT_NE(said.find("line 3: a.one appears twice"), std::string::npos) << said;
}

TEST(I18nFile, ParsesTheDataFileFormatAndRejectsMalformedLines) {
  std::vector<i18n_file::Text> texts;
  std::string error;
  const std::string good =
      "\xEF\xBB\xBF# comment\r\n"
      "\n"
      "   # indented comment\n"
      "a.b = Hello\r\n"
      "a.c=  two = signs # not a comment  \n"
      "a.d = line one\\nline two \\\\ back\\\\n\n"
      "a.e =\n"
      "a.f = „Grüße“ · 日本語 😀";  // no final newline
  ASSERT_TRUE(i18n_file::parseTexts(good, &texts, &error)) << error;
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0].key, "a.b");
  EXPECT_EQ(texts[0].text, "Hello");
  EXPECT_EQ(texts[0].line, 4);
  EXPECT_EQ(texts[1].text, "two = signs # not a comment");
  EXPECT_EQ(texts[2].text, "line one\nline two \\ back\\n");
  EXPECT_EQ(texts[3].text, "");  // a content fault, found by the check
  EXPECT_EQ(texts[4].text, "„Grüße“ · 日本語 😀");
  EXPECT_EQ(texts[4].line, 8);
  ASSERT_TRUE(i18n_file::parseTexts("a.z = again\n", &texts, &error)) << error;
  EXPECT_EQ(texts.size(), 1u);  // a second read replaces the first

  const struct {
    std::string content;
    const char* error;
  } bad[] = {
      {"a.b = x\njust text\n", "line 2: expected"},
      {"= x\n", "line 1: invalid key"},
      {"a b = x\n", "line 1: invalid key"},
      {"a.b. = x\n", "line 1: invalid key"},
      {"a.b = tab\\there\n", "line 1: unknown escape"},
      {"a.b = trailing\\\n", "line 1: unknown escape"},
      {"a.b = \xC0\xAF\n", "line 1: not valid UTF-8"},      // overlong
      {"a.b = \xED\xA0\x80\n", "line 1: not valid UTF-8"},  // surrogate
      {"a.b = \xE2\x80\n", "line 1: not valid UTF-8"},      // cut short
      {"a.b = \xF4\x90\x80\x80\n", "line 1: not valid UTF-8"},  // above U+10FFFF
  };
  for (const auto& b : bad) {
    error.clear();
    EXPECT_FALSE(i18n_file::parseTexts(b.content, &texts, &error)) << b.content;
    EXPECT_EQ(error.rfind(b.error, 0), 0u) << b.content << " -> " << error;
  }

  std::vector<i18n_file::LanguageRow> rows;
  ASSERT_TRUE(i18n_file::parseLanguages("# c\nde | Deutsch | German | ltr\nzh_TW|繁體中文|Chinese (Traditional)|ltr\n"
                                        "ar | العربية | Arabic | rtl\n",
                                        &rows, &error))
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
  auto texts = [](std::vector<std::pair<std::string, std::string>> pairs) {
    std::vector<i18n_file::Text> out;
    int line = 0;
    for (auto& [k, t] : pairs) out.push_back({k, t, ++line});
    return out;
  };
  const auto english = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Save"}, {"a.name", "Pelmora"}});

  std::vector<std::string> faults;
  const i18n_file::AllowList allow = i18n_file::parseAllowList(
      "# comment\n\n* a.name\r\nde a.pause\n  fr   a.ok  # \"OK\" is French too\r\nde a.pause\n  # indented\n", &faults);
  EXPECT_TRUE(faults.empty()) << joinLines(faults);
  EXPECT_EQ(allow, (i18n_file::AllowList{{"*", "a.name"}, {"de", "a.pause"}, {"fr", "a.ok"}}));

  // German: "Pause" allowed for de, the name for everyone; "OK" only for fr.
  const auto german = texts({{"a.ok", "OK"}, {"a.pause", "Pause"}, {"a.save", "Save"}, {"a.name", "Pelmora"}});
  EXPECT_EQ(i18n_file::identicalProblems("de", english, german, allow),
            (std::vector<std::string>{"line 1: a.ok = \"OK\" is the English text",
                                      "line 3: a.save = \"Save\" is the English text"}));
  // French may keep "OK" but not "Pause".
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
