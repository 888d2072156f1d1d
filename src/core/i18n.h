// i18n: the interface texts. Picks one of the 44 built-in languages (from the
// settings or from the locale variables), looks keys up in it and fills
// {{name}} placeholders. Log lines are never translated.
//
// Main thread only: the state has no lock. Nothing here fails; an unknown key
// translates to itself and an unknown language code selects English.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace i18n {

// One interface language, as the language screen lists it.
struct Language {
  std::string code;         // "de", "pt", "zh_TW"
  std::string nativeName;   // "Deutsch"
  std::string englishName;  // "German"
  bool rtl = false;         // written right to left
};

// Choosing the language

// Selects the catalogue whose code equals `code` exactly (case-sensitive),
// English when none does; an empty code follows the system's locale
// variables. Texts change from the next call of tr on.
void setLanguage(const std::string& code);
// The catalogue code the variables LANGUAGE, LC_ALL, LC_MESSAGES and LANG ask
// for (first match wins, in that order and in list order), or "en".
std::string detectSystemLanguage();
// All 44 languages in catalogue order; built on first call.
const std::vector<Language>& languages();
// The active language (English until setLanguage picks another).
const Language& currentLanguage();
// Whether the active language is written right to left.
bool rightToLeft();

// Translating

// The text for `key` in the active language, or `key` itself when the
// catalogue has no such key (there is no fall-back to another language).
std::string tr(const std::string& key);
// The same with each {{name}} replaced by its value, pairs applied in order.
// A value is not searched again for its own placeholder; placeholders without
// a value stay in the text.
std::string tr(const std::string& key,
               std::initializer_list<std::pair<const char*, std::string>> values);

}  // namespace i18n
