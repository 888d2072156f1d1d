#include "core/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace json {

const Value kNull{};

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Lenient on purpose: a byte that is not a hex digit counts as 0 ("\uzzzz"
// is a NUL byte), so one odd escape never costs the whole document.
unsigned hexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}

void appendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= 0xFFFF) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Recursive descent over one text. The first error clears ok_; every level
// then unwinds at once and parse() discards the partial result.
class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  Value run() {
    Value v = value();
    return ok_ ? std::move(v) : Value{};
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  void fail() { ok_ = false; }

  void skipSpace() {
    while (!atEnd() && isSpace(text_[pos_])) ++pos_;
  }

  Value value() {
    Value v;
    skipSpace();
    if (atEnd()) {
      fail();
      return v;
    }
    switch (text_[pos_]) {
      case '"':
        v.kind = Kind::String;
        readString(v.text);
        break;
      case '[':
        v.kind = Kind::Array;
        if (enter()) readArray(v);
        --depth_;
        break;
      case '{':
        v.kind = Kind::Object;
        if (enter()) readObject(v);
        --depth_;
        break;
      case 't':
        v.kind = Kind::Bool;
        v.boolean = true;
        readLiteral("true", 4);
        break;
      case 'f':
        v.kind = Kind::Bool;
        readLiteral("false", 5);
        break;
      case 'n':
        readLiteral("null", 4);
        break;
      default:
        v.kind = Kind::Number;
        readNumber(v.number);
        break;
    }
    return v;
  }

  // Counts one more level of nesting; false (and the error) beyond kMaxDepth.
  bool enter() {
    if (++depth_ > kMaxDepth) fail();
    return ok_;
  }

  void readArray(Value& v) {
    ++pos_;  // '['
    skipSpace();
    if (!atEnd() && text_[pos_] == ']') {
      ++pos_;
      return;
    }
    for (;;) {
      v.items.push_back(value());
      if (!ok_) return;
      skipSpace();
      if (atEnd()) return fail();
      char c = text_[pos_++];
      if (c == ']') return;
      if (c != ',') return fail();
    }
  }

  void readObject(Value& v) {
    ++pos_;  // '{'
    skipSpace();
    if (!atEnd() && text_[pos_] == '}') {
      ++pos_;
      return;
    }
    for (;;) {
      skipSpace();
      if (atEnd() || text_[pos_] != '"') return fail();
      std::string key;
      if (!readString(key)) return;
      skipSpace();
      if (atEnd() || text_[pos_] != ':') return fail();
      ++pos_;
      Value member = value();
      if (!ok_) return;
      v.members[key] = std::move(member);  // a later duplicate replaces the earlier one
      skipSpace();
      if (atEnd()) return fail();
      char c = text_[pos_++];
      if (c == '}') return;
      if (c != ',') return fail();
    }
  }

  // The literal must start here; what follows it is left for the caller.
  void readLiteral(const char* word, size_t length) {
    if (text_.compare(pos_, length, word) != 0) return fail();
    pos_ += length;
  }

  // Whatever strtod accepts is a number (signs, hex forms, inf, nan ...).
  void readNumber(double& out) {
    const char* start = text_.c_str() + pos_;
    char* end = nullptr;
    out = std::strtod(start, &end);
    if (end == start) return fail();
    pos_ += static_cast<size_t>(end - start);
  }

  // Four bytes after "\u" as a code unit; the caller checked they exist.
  unsigned codeUnitAt(size_t at) const {
    unsigned unit = 0;
    for (size_t i = 0; i < 4; ++i) unit = unit * 16 + hexValue(text_[at + i]);
    return unit;
  }

  // Decodes a string starting at its opening quote into out (appending).
  bool readString(std::string& out) {
    ++pos_;  // '"'
    for (;;) {
      size_t run = pos_;
      while (run < text_.size() && text_[run] != '"' && text_[run] != '\\') ++run;
      out.append(text_, pos_, run - pos_);
      pos_ = run;
      if (atEnd()) break;
      if (text_[pos_++] == '"') return true;
      if (atEnd()) break;
      char e = text_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': out.push_back(e); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
          if (!readEscapedCodePoint(out)) return false;
          break;
        default:
          fail();
          return false;
      }
    }
    fail();
    return false;
  }

  bool readEscapedCodePoint(std::string& out) {
    if (text_.size() - pos_ < 4) {
      fail();
      return false;
    }
    unsigned cp = codeUnitAt(pos_);
    pos_ += 4;
    // A high surrogate joins with an escaped low surrogate right after it;
    // any other lone surrogate is encoded as it stands.
    if (cp >= 0xD800 && cp <= 0xDBFF && text_.size() - pos_ >= 6 && text_[pos_] == '\\' &&
        text_[pos_ + 1] == 'u') {
      unsigned low = codeUnitAt(pos_ + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        pos_ += 6;
      }
    }
    appendUtf8(out, cp);
    return true;
  }

  const std::string& text_;
  size_t pos_ = 0;
  int depth_ = 0;
  bool ok_ = true;
};

void dumpString(const std::string& s, std::string& out) {
  out.push_back('"');
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(ch);  // slash, DEL and bytes >= 0x80 stay raw
        }
    }
  }
  out.push_back('"');
}

void dumpNumber(double x, std::string& out) {
  char buf[40];
  // Integers below 1e15 print exactly without exponent or fraction; the
  // bound keeps the conversion to long long far from overflow.
  if (std::floor(x) == x && std::fabs(x) < 1e15) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(x));
  } else {
    std::snprintf(buf, sizeof buf, "%.17g", x);
  }
  out += buf;
}

void dumpTo(const Value& v, std::string& out) {
  switch (v.kind) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += v.boolean ? "true" : "false"; break;
    case Kind::Number: dumpNumber(v.number, out); break;
    case Kind::String: dumpString(v.text, out); break;
    case Kind::Array: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : v.items) {
        if (!first) out.push_back(',');
        first = false;
        dumpTo(item, out);
      }
      out.push_back(']');
      break;
    }
    case Kind::Object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : v.members) {
        if (!first) out.push_back(',');
        first = false;
        dumpString(key, out);
        out.push_back(':');
        dumpTo(member, out);
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

const Value& Value::operator[](const std::string& key) const {
  if (kind != Kind::Object) return kNull;
  auto it = members.find(key);
  return it == members.end() ? kNull : it->second;
}

bool Value::has(const std::string& key) const {
  return kind == Kind::Object && members.find(key) != members.end();
}

size_t Value::size() const {
  if (kind == Kind::Array) return items.size();
  if (kind == Kind::Object) return members.size();
  return 0;
}

std::string Value::dump() const {
  std::string out;
  dumpTo(*this, out);
  return out;
}

Value parse(const std::string& text) { return Parser(text).run(); }

}  // namespace json
