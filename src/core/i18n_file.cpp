#include "core/i18n_file.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace i18n_file {
namespace {

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

std::string at(int line, const std::string& reason) {
  return "line " + std::to_string(line) + ": " + reason;
}

bool fail(std::string* error, int line, const std::string& reason) {
  if (error) *error = at(line, reason);
  return false;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto lead = static_cast<unsigned char>(s[i]);
    size_t more = 0;
    unsigned smallest = 0;
    unsigned cp = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if ((lead & 0xE0) == 0xC0) {
      more = 1;
      smallest = 0x80;
      cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2;
      smallest = 0x800;
      cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3;
      smallest = 0x10000;
      cp = lead & 0x07u;
    } else {
      return false;
    }
    if (i + more >= s.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

bool validKey(std::string_view key) {
  if (key.empty() || key.front() == '.' || key.back() == '.') return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '.';
  });
}

bool validCode(std::string_view code) {
  // "de", "fil", "zh_TW"
  const std::string_view base = code.substr(0, code.find('_'));
  if (base.size() < 2 || base.size() > 3) return false;
  if (!std::all_of(base.begin(), base.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
    return false;
  }
  if (base.size() == code.size()) return true;
  const std::string_view region = code.substr(base.size() + 1);
  return region.size() == 2 &&
         std::all_of(region.begin(), region.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Calls take(lineNumber, line) for every line that is neither blank nor a
// comment; a leading byte-order mark and CR line ends are dropped.
template <typename Take>
bool eachLine(std::string_view content, Take take) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  int number = 0;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view body = trim(line);
    if (body.empty() || body.front() == '#') continue;
    if (!take(number, body)) return false;
  }
  return true;
}

std::string joined(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += ' ';
    out.append("{{").append(n).append("}}");
  }
  return out;
}

}  // namespace

bool parseTexts(std::string_view content, std::vector<Text>* out, std::string* error) {
  out->clear();
  return eachLine(content, [&](int number, std::string_view line) {
    if (!validUtf8(line)) return fail(error, number, "not valid UTF-8");
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail(error, number, "expected \"key = text\"");
    const std::string_view key = trim(line.substr(0, eq));
    if (!validKey(key)) return fail(error, number, "invalid key \"" + std::string(key) + "\"");
    const std::string_view raw = trim(line.substr(eq + 1));
    Text t{std::string(key), {}, number};
    t.text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\') {
        t.text += raw[i];
        continue;
      }
      const char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
      if (next == 'n') {
        t.text += '\n';
      } else if (next == '\\') {
        t.text += '\\';
      } else {
        return fail(error, number, "unknown escape (only \\n and \\\\ are allowed)");
      }
      ++i;
    }
    out->push_back(std::move(t));
    return true;
  });
}

bool parseLanguages(std::string_view content, std::vector<LanguageRow>* out, std::string* error) {
  out->clear();
  std::set<std::string, std::less<>> codes;
  return eachLine(content, [&](int number, std::string_view line) {
    if (!validUtf8(line)) return fail(error, number, "not valid UTF-8");
    std::vector<std::string_view> fields;
    for (;;) {
      const size_t bar = line.find('|');
      fields.push_back(trim(line.substr(0, bar)));
      if (bar == std::string_view::npos) break;
      line.remove_prefix(bar + 1);
    }
    if (fields.size() != 4) return fail(error, number, "expected \"code | native name | English name | ltr\"");
    if (!validCode(fields[0])) return fail(error, number, "invalid code \"" + std::string(fields[0]) + "\"");
    if (!codes.emplace(fields[0]).second) return fail(error, number, "code listed twice");
    if (fields[1].empty() || fields[2].empty()) return fail(error, number, "empty name");
    if (fields[3] != "ltr" && fields[3] != "rtl") return fail(error, number, "direction must be ltr or rtl");
    out->push_back({std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                    fields[3] == "rtl", number});
    return true;
  });
}

bool readWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  *content = std::move(buffer).str();
  return true;
}

std::vector<std::string> placeholders(std::string_view text) {
  std::set<std::string> names;
  for (size_t open = text.find("{{"); open != std::string_view::npos; open = text.find("{{", open)) {
    const size_t close = text.find("}}", open + 2);
    if (close == std::string_view::npos) break;
    names.emplace(text.substr(open + 2, close - open - 2));
    open = close + 2;
  }
  return {names.begin(), names.end()};
}

std::vector<std::string> referenceProblems(const std::vector<Text>& english) {
  std::vector<std::string> problems;
  std::set<std::string, std::less<>> seen;
  for (const Text& t : english) {
    if (!seen.insert(t.key).second) problems.push_back(at(t.line, t.key + " appears twice"));
    if (t.text.empty()) problems.push_back(at(t.line, t.key + " has an empty text"));
  }
  return problems;
}

std::vector<std::string> translationProblems(const std::vector<Text>& english,
                                             const std::vector<Text>& texts) {
  std::map<std::string, size_t, std::less<>> order;  // key -> position in the reference
  for (size_t i = 0; i < english.size(); ++i) order.emplace(english[i].key, i);

  std::vector<std::string> problems;
  std::set<std::string, std::less<>> seen;
  size_t lastPosition = 0;
  const Text* last = nullptr;
  for (const Text& t : texts) {
    const auto it = order.find(t.key);
    if (it == order.end()) {
      problems.push_back(at(t.line, t.key + " is not an English key"));
      continue;
    }
    if (!seen.insert(t.key).second) {
      problems.push_back(at(t.line, t.key + " appears twice"));
      continue;
    }
    if (last != nullptr && it->second < lastPosition) {
      problems.push_back(at(t.line, t.key + " is out of order (English has it before " + last->key + ")"));
    } else {
      lastPosition = it->second;
      last = &t;
    }
    if (t.text.empty()) {
      problems.push_back(at(t.line, t.key + " has an empty text"));
      continue;
    }
    const std::vector<std::string> want = placeholders(english[it->second].text);
    const std::vector<std::string> have = placeholders(t.text);
    if (have != want) {
      problems.push_back(at(t.line, t.key + " has placeholders " + joined(have) + ", English has " + joined(want)));
    }
  }
  for (const Text& e : english) {
    if (seen.count(e.key) == 0) problems.push_back(e.key + " is missing");
  }
  return problems;
}

AllowList parseAllowList(std::string_view content, std::vector<std::string>* faults) {
  AllowList allow;
  eachLine(content, [&](int number, std::string_view raw) {
    // "#" starts a comment, on its own line or after an entry; keys have none.
    const std::string line(raw.substr(0, raw.find('#')));
    std::istringstream words(line);
    std::string lang, key, extra;
    words >> lang >> key;
    if (lang.empty()) return true;
    if (key.empty() || (words >> extra)) {
      faults->push_back(at(number, "expected \"<lang> <key>\", got \"" + line + "\""));
    } else {
      allow.emplace(lang, key);
    }
    return true;
  });
  return allow;
}

std::vector<std::string> identicalProblems(const std::string& code, const std::vector<Text>& english,
                                           const std::vector<Text>& texts, const AllowList& allow) {
  std::map<std::string, std::string, std::less<>> reference;
  for (const Text& e : english) reference[e.key] = e.text;
  std::vector<std::string> problems;
  for (const Text& t : texts) {
    const auto it = reference.find(t.key);
    if (it == reference.end()) continue;
    const bool allowed = allow.count({code, t.key}) > 0;
    if (it->second == t.text && !allowed && allow.count({"*", t.key}) == 0) {
      problems.push_back(at(t.line, t.key + " = \"" + t.text + "\" is the English text"));
    } else if (it->second != t.text && allowed) {
      problems.push_back("identical_ok.txt: " + code + " " + t.key + " is allowed, but its text differs from English");
    }
  }
  return problems;
}

}  // namespace i18n_file
