#include "core/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using json::Kind;
using json::Value;

Value num(double x) {
  Value v;
  v.kind = Kind::Number;
  v.number = x;
  return v;
}

Value str(const std::string& s) {
  Value v;
  v.kind = Kind::String;
  v.text = s;
  return v;
}

// The string a JSON document holding one string decodes to; "<invalid>"
// when it does not parse to a string.
std::string decoded(const std::string& doc) {
  Value v = json::parse(doc);
  return v.kind == Kind::String ? v.text : "<invalid>";
}

std::string nested(const std::string& open, const std::string& inner, const std::string& close,
                   int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  s += inner;
  for (int i = 0; i < depth; ++i) s += close;
  return s;
}

TEST(Json, DuplicateKeyKeepsTheLaterValue) {
  Value v = json::parse("{\"k\":1,\"other\":true,\"k\":\"two\"}");
  ASSERT_EQ(v.kind, Kind::Object);
  EXPECT_EQ(v.size(), 2u);
  EXPECT_EQ(v["k"].kind, Kind::String);
  EXPECT_EQ(v["k"].text, "two");
}

TEST(Json, UnicodeEscapesAndSurrogates) {
  EXPECT_EQ(decoded("\"\\uD83D\\uDE00\""), "\xF0\x9F\x98\x80");
  EXPECT_EQ(decoded("\"\\ud83d\\ude00\""), "\xF0\x9F\x98\x80");
  // A lone high surrogate is encoded by itself and the text after it is read normally.
  EXPECT_EQ(decoded("\"\\uD83D\""), "\xED\xA0\xBD");
  EXPECT_EQ(decoded("\"\\uD83Dx\""), "\xED\xA0\xBD" "x");
  EXPECT_EQ(decoded("\"\\uD83D\\u0041\""), "\xED\xA0\xBD" "A");
  EXPECT_EQ(decoded("\"\\uD83D\\n\""), "\xED\xA0\xBD\n");
  EXPECT_EQ(decoded("\"\\uDE00\""), "\xED\xB8\x80");
  // The highest pair and the UTF-8 length boundaries.
  EXPECT_EQ(decoded("\"\\uDBFF\\uDFFF\""), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(decoded("\"\\u007f\\u0080\\u07FF\\u0800\\uFFFF\""),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  // Non-hex digits count as zero instead of failing.
  EXPECT_EQ(decoded("\"\\u12zz\""), "\xE1\x88\x80");  // U+1200
  EXPECT_EQ(decoded("\"\\uzzzz\""), std::string(1, '\0'));
  EXPECT_EQ(decoded("\"a\\u0000b\""), std::string("a\0b", 3));
  // Too few bytes after \u.
  EXPECT_EQ(decoded("\"\\u12\""), "<invalid>");
  EXPECT_EQ(decoded("\"\\u"), "<invalid>");
}

TEST(Json, SimpleEscapesRawBytesAndBadEscapes) {
  EXPECT_EQ(decoded("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(decoded("\"\\x41\""), "<invalid>");
  EXPECT_EQ(decoded("\"\\U0041\""), "<invalid>");
  EXPECT_EQ(decoded("\"a\tb\""), "a\tb");
  EXPECT_EQ(decoded("\"\x01\x7f\xff\xc3\""), "\x01\x7f\xff\xc3");  // no UTF-8 validation
  EXPECT_EQ(decoded("\"abc"), "<invalid>");
  EXPECT_EQ(decoded("\"abc\\"), "<invalid>");
}

TEST(Json, WriterEscapesControlBytesOnly) {
  EXPECT_EQ(str("\x1F\x7F").dump(), "\"\\u001f\x7F\"");
  EXPECT_EQ(str("\x1b\b\f").dump(), "\"\\u001b\\u0008\\u000c\"");
  EXPECT_EQ(str("q\"b\\n\nr\rt\t").dump(), "\"q\\\"b\\\\n\\nr\\rt\\t\"");
  EXPECT_EQ(str("a/b \xC3\xA9\xFF").dump(), "\"a/b \xC3\xA9\xFF\"");
  EXPECT_EQ(str(std::string(1, '\0')).dump(), "\"\\u0000\"");
}

TEST(Json, NumbersAreWrittenExactlyAndCompactly) {
  EXPECT_EQ(num(42.0).dump(), "42");
  EXPECT_EQ(num(1e15).dump(), "1000000000000000");
  EXPECT_EQ(num(999999999999999.0).dump(), "999999999999999");
  EXPECT_EQ(num(-999999999999999.0).dump(), "-999999999999999");
  EXPECT_EQ(num(2.5).dump(), "2.5");
  EXPECT_EQ(num(-0.0).dump(), "0");
  EXPECT_EQ(num(0.1).dump(), "0.10000000000000001");
  EXPECT_EQ(num(1e300).dump(), "1.0000000000000001e+300");
  EXPECT_EQ(num(-1e20).dump(), "-1e+20");
  EXPECT_EQ(num(INFINITY).dump(), "inf");
  EXPECT_EQ(num(-INFINITY).dump(), "-inf");
}

TEST(Json, NumbersParseWhateverStrtodAccepts) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"0", 0},        {"-12", -12},   {"+7", 7},           {".5", 0.5},
               {"1e3", 1000},   {"2.5E-1", 0.25}, {"0x10", 16},      {"80.6", 80.6},
               {"1e999", INFINITY}, {"-inf", -INFINITY}, {"12abc", 12}};
  for (const Case& c : cases) {
    Value v = json::parse(c.text);
    ASSERT_EQ(v.kind, Kind::Number) << c.text;
    EXPECT_EQ(v.number, c.value) << c.text;
  }
  Value nan = json::parse("-nan");
  ASSERT_EQ(nan.kind, Kind::Number);
  EXPECT_TRUE(std::isnan(nan.number));
  EXPECT_EQ(json::parse("-").kind, Kind::Null);
  EXPECT_EQ(json::parse("nan").kind, Kind::Null);  // 'n' must start "null"
}

TEST(Json, LookupsNeverFail) {
  const std::vector<std::string> docs = {"null", "true", "3", "\"s\"", "[1,2]", "{\"a\":{\"c\":1}}"};
  for (const std::string& doc : docs) {
    Value v = json::parse(doc);
    const Value& missing = v["x"]["y"];
    EXPECT_EQ(&missing, &json::kNull) << doc;
    EXPECT_EQ(missing.size(), 0u) << doc;
    EXPECT_FALSE(v.has("x")) << doc;
  }
  Value o = json::parse("{\"a\":{\"c\":1},\"e\":[]}");
  EXPECT_TRUE(o.has("a"));
  EXPECT_FALSE(o["a"].has("a"));
  EXPECT_EQ(o["a"]["c"].number, 1);
  EXPECT_EQ(o["e"].size(), 0u);
  EXPECT_EQ(json::parse("[{\"a\":1}]")["a"].kind, Kind::Null);  // arrays have no members
  EXPECT_EQ(json::kNull.kind, Kind::Null);
}

TEST(Json, ObjectsAreWrittenInByteWiseKeyOrder) {
  Value o;
  o.kind = Kind::Object;
  o.members["b"] = num(1);
  o.members["a"] = num(2);
  o.members["B"] = num(3);
  o.members["\xC3\xA9"] = num(4);
  o.members[""] = num(5);
  EXPECT_EQ(o.dump(), "{\"\":5,\"B\":3,\"a\":2,\"b\":1,\"\xC3\xA9\":4}");
  EXPECT_EQ(json::parse("{\"b\":1, \"a\":2}").dump(), json::parse("{\"a\":2,\"b\":1}").dump());
}

TEST(Json, RoundTripKeepsEveryByteAndNumber) {
  std::string allBytes;
  for (int c = 0; c < 256; ++c) allBytes.push_back(static_cast<char>(c));
  EXPECT_EQ(json::parse(str(allBytes).dump()).text, allBytes);

  for (double x : {0.0, 1.0, -1.0, 0.1, 1.0 / 3.0, 123456.789, 1e15, 1e-300, 4.9e-324,
                   1.7976931348623157e308, -2.2250738585072014e-308, 9007199254740993.0}) {
    Value back = json::parse(num(x).dump());
    ASSERT_EQ(back.kind, Kind::Number);
    EXPECT_EQ(back.number, x) << num(x).dump();
  }

  Value doc;
  doc.kind = Kind::Object;
  doc.members["list"].kind = Kind::Array;
  doc.members["list"].items = {num(1), str("two"), Value{}, json::parse("{\"x\":[true,false]}")};
  doc.members["key with \"quotes\"\n"] = str("value\\");
  doc.members["empty"].kind = Kind::Object;
  std::string text = doc.dump();
  EXPECT_EQ(text,
            "{\"empty\":{},\"key with \\\"quotes\\\"\\n\":\"value\\\\\","
            "\"list\":[1,\"two\",null,{\"x\":[true,false]}]}");
  EXPECT_EQ(json::parse(text).dump(), text);
}

TEST(Json, NestingDeeperThanTheLimitIsRejected) {
  Value deepest = json::parse(nested("[", "1", "]", json::kMaxDepth));
  ASSERT_EQ(deepest.kind, Kind::Array);
  EXPECT_EQ(deepest.dump(), nested("[", "1", "]", json::kMaxDepth));
  EXPECT_EQ(json::parse(nested("[", "", "]", json::kMaxDepth + 1)).kind, Kind::Null);
  EXPECT_EQ(json::parse(nested("{\"a\":", "1", "}", json::kMaxDepth)).kind, Kind::Object);
  EXPECT_EQ(json::parse(nested("{\"a\":", "1", "}", json::kMaxDepth + 1)).kind, Kind::Null);
  // Depth counts nesting, not the number of containers.
  std::string wide = "[" + nested("[", "", "]", json::kMaxDepth - 1) + "," +
                     nested("[", "", "]", json::kMaxDepth - 1) + "]";
  EXPECT_EQ(json::parse(wide).size(), 2u);
  // Far beyond the limit, as a crafted file would be: rejected, no stack overflow.
  EXPECT_EQ(json::parse(std::string(1000000, '[')).kind, Kind::Null);
  EXPECT_EQ(json::parse(nested("{\"k\":[", "0", "]}", 200000)).kind, Kind::Null);
}

TEST(Json, DocumentTable) {
  const char* const kInvalid = "<invalid>";
  struct Case {
    std::string text;
    std::string dump;  // kInvalid: must parse to Null as a failure
  } cases[] = {
      {"{}", "{}"},
      {" [ ] ", "[]"},
      {"\t\r\n[1 , 2,3 ]", "[1,2,3]"},
      {"{ \"a\" : [ true , false , null ] }", "{\"a\":[true,false,null]}"},
      {"[{},[],\"\"]", "[{},[],\"\"]"},
      {"1.5e3", "1500"},
      {"-0", "0"},
      {"\"\\u00e9\\u20AC\"", "\"\xC3\xA9\xE2\x82\xAC\""},
      {"{\"a\":1}]]", "{\"a\":1}"},
      {"[1]garbage", "[1]"},
      {"nullx", "null"},
      {"{\"n\":{\"m\":{}}}", "{\"n\":{\"m\":{}}}"},
      {"", kInvalid},
      {"   ", kInvalid},
      {"[", kInvalid},
      {"]", kInvalid},
      {"}", kInvalid},
      {":", kInvalid},
      {"[1,", kInvalid},
      {"[1 2]", kInvalid},
      {"[,1]", kInvalid},
      {"[1,2", kInvalid},
      {"{", kInvalid},
      {"{,}", kInvalid},
      {"{\"a\"", kInvalid},
      {"{\"a\" 1}", kInvalid},
      {"{\"a\":}", kInvalid},
      {"{\"a\":1", kInvalid},
      {"{\"a\":1 \"b\":2}", kInvalid},
      {"{a:1}", kInvalid},
      {"{1:1}", kInvalid},
      {"[\"a\" \"b\"]", kInvalid},
      {"fals", kInvalid},
      {"nul", kInvalid},
      {"[tru]", kInvalid},
      {"[1,2,]", kInvalid},  // no trailing commas
      {"{\"a\":1,}", kInvalid},
      {"  true  ", "true"},
      {"false", "false"},
      {"tru", kInvalid},
      {"True", kInvalid},
      {"truex", "true"},  // the byte after a literal is not examined
      {"{}xyz", "{}"},
      {"{\"a\":[1,{\"b\":\"\\q\"}]}", kInvalid},
  };
  for (const Case& c : cases) {
    Value v = json::parse(c.text);
    if (c.dump == kInvalid) {
      EXPECT_EQ(v.kind, Kind::Null) << "accepted: " << c.text;
    } else {
      EXPECT_EQ(v.dump(), c.dump) << "input: " << c.text;
    }
  }
}

TEST(Json, ValuesOwnTheirChildren) {
  Value a = json::parse("{\"list\":[1,2],\"s\":\"x\"}");
  Value b = a;
  b.members["list"].items.push_back(num(3));
  b.members["s"].text = "y";
  EXPECT_EQ(a.dump(), "{\"list\":[1,2],\"s\":\"x\"}");
  EXPECT_EQ(b.dump(), "{\"list\":[1,2,3],\"s\":\"y\"}");
  Value moved = std::move(b);
  EXPECT_EQ(moved["list"].size(), 3u);
}

}  // namespace
