// json: one value type, a forgiving recursive-descent parser and a compact
// writer. The settings store builds values from its record, writes them with
// dump() and reads them back with parse().
//
// Values are plain data without locking; parsing and writing touch no shared
// state, so different values may be used from different threads. Nothing here
// throws for bad input: parsing yields Null, lookups yield kNull.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace json {

enum class Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

// Every slot exists in every value; only the one selected by `kind` carries
// meaning, the others stay empty or zero. Builders set `kind` and then the
// matching slot. A value owns its children (deep copy, no sharing).
struct Value {
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;                     // String: UTF-8 bytes exactly as decoded
  std::vector<Value> items;             // Array: elements in source order
  std::map<std::string, Value> members;  // Object: byte-wise key order, keys unique

  // --- Lookup (never fails) ---------------------------------------------------
  // The member `key` of an Object; kNull for a missing key or any other kind,
  // so chained lookups of missing members are safe.
  const Value& operator[](const std::string& key) const;
  // True only for an Object holding a member `key`.
  bool has(const std::string& key) const;
  // Elements of an Array or members of an Object; 0 for every other kind.
  size_t size() const;

  // --- Writing -----------------------------------------------------------------
  // Compact text: no spaces, no newline; object members in key order, so the
  // output does not depend on insertion order.
  std::string dump() const;
};

// The shared Null that missed lookups refer to; never modified.
extern const Value kNull;

// Deepest nesting of arrays and objects parse() accepts; deeper text is
// rejected rather than risking the stack.
inline constexpr int kMaxDepth = 512;

// The first value in `text`; bytes after it are ignored. Any syntax error
// (or nesting beyond kMaxDepth) gives a Null value; no position is reported.
Value parse(const std::string& text);

}  // namespace json
