#include "core/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
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

std::string nested(const std::string& open, const std::string& inner, const std::string& close, int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  s += inner;
  for (int i = 0; i < depth; ++i) s += close;
  return s;
}

const char kInvalid[] = "<invalid>";

TEST(Json, StringEscapesDecode) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      // A lone surrogate is encoded by itself and the text after it is read normally.
      {R"("\uD83Dx")", "\xED\xA0\xBD" "x"},
      {R"("\uD83D\u0041")", "\xED\xA0\xBD" "A"},
      {R"("\uDE00")", "\xED\xB8\x80"},
      // The UTF-8 length boundaries; non-hex digits count as zero instead of failing.
      {R"("\u007f\u0080\u07FF\u0800\uFFFF")", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {R"("a\uzzzzb")", std::string("a\0b", 3)},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"\"\x01\x7f\xff\xc3\"", "\x01\x7f\xff\xc3"},  // no UTF-8 validation
      {R"("\u12")", kInvalid},  // too few bytes after \u
      {R"("\x41")", kInvalid},
      {R"("abc)", kInvalid},
      {R"("abc\)", kInvalid},
  };
  for (const auto& [doc, want] : cases) {
    const Value v = json::parse(doc);
    EXPECT_EQ(v.kind == Kind::String ? v.text : kInvalid, want) << doc;
  }
}

TEST(Json, WriterEscapesControlBytesAndWritesNumbersExactly) {
  const std::pair<std::string, std::string> strings[] = {
      {"\x1F\x7F", "\"\\u001f\x7F\""},
      {"\x1b\b\f", R"("\u001b\u0008\u000c")"},
      {"q\"b\\n\nr\rt\t", R"("q\"b\\n\nr\rt\t")"},
      {"a/b \xC3\xA9\xFF", "\"a/b \xC3\xA9\xFF\""},
      {std::string(1, '\0'), R"("\u0000")"},
  };
  for (const auto& [text, dump] : strings) EXPECT_EQ(str(text).dump(), dump);
  const std::pair<double, const char*> numbers[] = {
      {42.0, "42"},
      {1e15, "1000000000000000"},
      {-999999999999999.0, "-999999999999999"},
      {2.5, "2.5"},
      {-0.0, "0"},
      {0.1, "0.10000000000000001"},
      {-1e20, "-1e+20"},
      {INFINITY, "inf"},
  };
  for (const auto& [x, dump] : numbers) EXPECT_EQ(num(x).dump(), dump);
}

TEST(Json, NumbersParseWhateverStrtodAccepts) {
  const std::pair<const char*, double> cases[] = {
      {"0", 0},        {"-12", -12},     {"+7", 7},     {".5", 0.5},      {"1e3", 1000},      {"2.5E-1", 0.25},
      {"0x10", 16},    {"80.6", 80.6},   {"1e999", INFINITY}, {"-inf", -INFINITY}, {"12abc", 12},
  };
  for (const auto& [text, value] : cases) {
    const Value v = json::parse(text);
    ASSERT_EQ(v.kind, Kind::Number) << text;
    EXPECT_EQ(v.number, value) << text;
  }
  EXPECT_TRUE(std::isnan(json::parse("-nan").number));
  EXPECT_EQ(json::parse("-").kind, Kind::Null);
  EXPECT_EQ(json::parse("nan").kind, Kind::Null);  // 'n' must start "null"
}

TEST(Json, LookupsNeverFail) {
  for (const char* doc : {"null", "true", "3", "\"s\"", "[1,2]", "{\"a\":{\"c\":1}}", "[{\"x\":1}]"}) {
    const Value v = json::parse(doc);
    EXPECT_EQ(&v["x"]["y"], &json::kNull) << doc;
    EXPECT_EQ(v["x"].size(), 0u) << doc;
    EXPECT_FALSE(v.has("x")) << doc;
  }
  const Value o = json::parse("{\"a\":{\"c\":1},\"e\":[]}");
  EXPECT_TRUE(o.has("a"));
  EXPECT_FALSE(o["a"].has("a"));
  EXPECT_EQ(o["a"]["c"].number, 1);
  EXPECT_EQ(o["e"].size(), 0u);
}

TEST(Json, RoundTripKeepsEveryByteNumberAndKeyInByteOrder) {
  std::string allBytes;
  for (int c = 0; c < 256; ++c) allBytes.push_back(static_cast<char>(c));
  EXPECT_EQ(json::parse(str(allBytes).dump()).text, allBytes);
  for (double x : {1.0 / 3.0, 123456.789, 1e-300, 4.9e-324, 1.7976931348623157e308, -2.2250738585072014e-308,
                   9007199254740993.0}) {
    EXPECT_EQ(json::parse(num(x).dump()).number, x) << num(x).dump();
  }

  Value doc;
  doc.kind = Kind::Object;
  doc.members["list"].kind = Kind::Array;
  doc.members["list"].items = {num(1), str("two"), Value{}, json::parse("{\"x\":[true,false]}")};
  doc.members["key with \"quotes\"\n"] = str("value\\");
  doc.members["empty"].kind = Kind::Object;
  for (const char* key : {"b", "B", "\xC3\xA9", ""}) doc.members[key] = num(0);
  const std::string text = doc.dump();
  EXPECT_EQ(text, "{\"\":0,\"B\":0,\"b\":0,\"empty\":{},\"key with \\\"quotes\\\"\\n\":\"value\\\\\","
                  "\"list\":[1,\"two\",null,{\"x\":[true,false]}],\"\xC3\xA9\":0}");
  EXPECT_EQ(json::parse(text).dump(), text);
}

TEST(Json, NestingDeeperThanTheLimitIsRejected) {
  EXPECT_EQ(json::parse(nested("[", "1", "]", json::kMaxDepth)).dump(), nested("[", "1", "]", json::kMaxDepth));
  EXPECT_EQ(json::parse(nested("[", "", "]", json::kMaxDepth + 1)).kind, Kind::Null);
  EXPECT_EQ(json::parse(nested("{\"a\":", "1", "}", json::kMaxDepth)).kind, Kind::Object);
  EXPECT_EQ(json::parse(nested("{\"a\":", "1", "}", json::kMaxDepth + 1)).kind, Kind::Null);
  // Depth counts nesting, not the number of containers.
  const std::string deep = nested("[", "", "]", json::kMaxDepth - 1);
  EXPECT_EQ(json::parse("[" + deep + "," + deep + "]").size(), 2u);
  // Far beyond the limit, as a crafted file would be: rejected, no stack overflow.
  EXPECT_EQ(json::parse(std::string(1000000, '[')).kind, Kind::Null);
  EXPECT_EQ(json::parse(nested("{\"k\":[", "0", "]}", 200000)).kind, Kind::Null);
}

TEST(Json, DocumentTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"{}", "{}"}, {" [ ] ", "[]"}, {"\t\r\n[1 , 2,3 ]", "[1,2,3]"},
      {"{ \"a\" : [ true , false , null ] }", "{\"a\":[true,false,null]}"}, {"[{},[],\"\"]", "[{},[],\"\"]"},
      {"1.5e3", "1500"}, {"-0", "0"}, {"\"\\u00e9\\u20AC\"", "\"\xC3\xA9\xE2\x82\xAC\""},
      {"{\"k\":1,\"other\":true,\"k\":\"two\"}", "{\"k\":\"two\",\"other\":true}"},  // the later duplicate wins
      // What follows a complete value, even right after a literal, is not examined.
      {"{\"a\":1}]]", "{\"a\":1}"}, {"[1]garbage", "[1]"}, {"nullx", "null"},
      {"", kInvalid}, {"[", kInvalid}, {"[1 2]", kInvalid}, {"[1,2", kInvalid}, {"{", kInvalid}, {"{\"a\"", kInvalid},
      {"{\"a\" 1}", kInvalid}, {"{\"a\":}", kInvalid}, {"{\"a\":1", kInvalid}, {"{\"a\":1 \"b\":2}", kInvalid},
      {"[tru]", kInvalid}, {"True", kInvalid}, {"[1,2,]", kInvalid}, {"{\"a\":1,}", kInvalid},
      {"{\"a\":[1,{\"b\":\"\\q\"}]}", kInvalid},
  };
  for (const auto& [text, dump] : cases) {
    const Value v = json::parse(text);
    if (std::string(dump) == kInvalid) {
      EXPECT_EQ(v.kind, Kind::Null) << "accepted: " << text;
    } else {
      EXPECT_EQ(v.dump(), dump) << text;
    }
  }
}

}  // namespace
