#include "core/i18n.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string_view>

#include "core/i18n_data.h"

namespace i18n {
namespace {

constexpr int kEnglishRow = 1;

struct State {
  int current = kEnglishRow;  // row of i18n_data::kCatalogs
  std::string requested;      // last code given to setLanguage; empty = follow the system
  // Built once per language change; transparent so tr looks up without copying.
  std::map<std::string, const char*, std::less<>> lookup;
};

State& state() {
  static State s;
  return s;
}

int rowOf(std::string_view code) {
  for (int i = 0; i < i18n_data::kCatalogCount; ++i) {
    if (code == i18n_data::kCatalogs[i].code) return i;
  }
  return -1;
}

void buildLookup(State& s) {
  s.lookup.clear();
  const i18n_data::Catalog& c = i18n_data::kCatalogs[s.current];
  for (int32_t i = 0; i < c.count; ++i) {
    s.lookup.emplace(c.entries[i].key, c.entries[i].text);  // keeps an existing key
  }
}

// ASCII only: std::tolower would follow the process locale (a Turkish one
// lower-cases 'I' to a dotless i).
std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

// The catalogue code one locale entry ("pt_BR.UTF-8", "sr@latin", "zh-Hant")
// names, or empty.
std::string codeForLocale(std::string_view entry) {
  const std::string lower = lowerCase(entry);
  if (lower.rfind("zh", 0) == 0) {
    for (const char* mark : {"hant", "_tw", "-tw", "_hk", "-hk", "_mo", "-mo"}) {
      if (lower.find(mark) != std::string::npos && rowOf("zh_TW") >= 0) return "zh_TW";
    }
  }
  const std::string language = lower.substr(0, lower.find_first_of("-.@_"));
  if (!language.empty() && rowOf(language) >= 0) return language;
  return {};
}

}  // namespace

void setLanguage(const std::string& code) {
  State& s = state();
  s.requested = code;
  const int row = rowOf(code.empty() ? detectSystemLanguage() : code);
  s.current = row >= 0 ? row : rowOf("en");
  buildLookup(s);
}

std::string detectSystemLanguage() {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string_view rest(value);
    for (;;) {
      const size_t colon = rest.find(':');
      const std::string code = codeForLocale(rest.substr(0, colon));
      if (!code.empty()) return code;
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return "en";
}

const std::vector<Language>& languages() {
  static const std::vector<Language> list = [] {
    std::vector<Language> out;
    out.reserve(i18n_data::kCatalogCount);
    for (const i18n_data::Catalog& c : i18n_data::kCatalogs) {
      out.push_back({c.code, c.nativeName, c.englishName, c.rtl});
    }
    return out;
  }();
  return list;
}

const Language& currentLanguage() { return languages()[static_cast<size_t>(state().current)]; }

bool rightToLeft() { return i18n_data::kCatalogs[state().current].rtl; }

std::string tr(const std::string& key) {
  State& s = state();
  if (s.lookup.empty()) buildLookup(s);
  const auto it = s.lookup.find(key);
  return it != s.lookup.end() ? std::string(it->second) : key;
}

std::string tr(const std::string& key,
               std::initializer_list<std::pair<const char*, std::string>> values) {
  std::string text = tr(key);
  for (const auto& [name, value] : values) {
    if (name == nullptr) continue;
    std::string placeholder;
    placeholder.reserve(std::strlen(name) + 4);
    placeholder.append("{{").append(name).append("}}");
    // Each search resumes after the value just inserted, so a value holding
    // its own placeholder cannot loop.
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

}  // namespace i18n
