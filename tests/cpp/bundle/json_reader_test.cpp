// The strict JSON reader: accepted values, every syntax error with its byte offset, the
// nesting bound and file loading.

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "velmora/json.hpp"

namespace {

using velmora::detail::JsonError;
using velmora::detail::JsonValue;
using velmora::detail::load_json;
using velmora::detail::load_text_file;
using velmora::detail::parse_json;

std::string parse_error(std::string_view text) {
  try {
    parse_json(text);
  } catch (const JsonError& error) {
    return error.what();
  }
  return "<no error>";
}

struct SyntaxCase {
  std::string text;
  std::string message;
};

TEST(JsonReader, SyntaxErrorsReportMessageAndOffset) {
  const SyntaxCase cases[] = {
      {"", "unexpected end of JSON at JSON byte 0"},
      {"   ", "unexpected end of JSON at JSON byte 3"},
      {"[", "unexpected end of JSON at JSON byte 1"},
      {"{} x", "unexpected trailing data at JSON byte 3"},
      {"nullx", "unexpected trailing data at JSON byte 4"},
      {"tru", "invalid JSON literal at JSON byte 0"},
      {"[fals]", "invalid JSON literal at JSON byte 1"},
      {"[1,]", "unexpected JSON token at JSON byte 3"},
      {"[1 2]", "expected ',' at JSON byte 3"},
      {"{,}", "expected object key at JSON byte 1"},
      {"{\"a\":1,}", "expected object key at JSON byte 7"},
      {"{", "expected object key at JSON byte 1"},
      {"{\"a\" 1}", "expected ':' at JSON byte 5"},
      {"{\"a\":1", "expected ',' at JSON byte 6"},
      {"{\"a\":1,\"a\":2}", "duplicate object key at JSON byte 12"},
      {"{\"a\":1,\"\\u0061\":2}", "duplicate object key at JSON byte 17"},
      {"{\"b\":1,\"a\":2,\"b\":[3]}", "duplicate object key at JSON byte 20"},
      {"01", "leading zero in number at JSON byte 1"},
      {"-", "truncated number at JSON byte 1"},
      {"-a", "invalid number at JSON byte 1"},
      {"1.", "missing fractional digits at JSON byte 2"},
      {"1.e5", "missing fractional digits at JSON byte 2"},
      {"1e+", "missing exponent digits at JSON byte 3"},
      {"1E", "missing exponent digits at JSON byte 2"},
      {"1e400", "invalid floating-point number at JSON byte 5"},
      {"-1e400", "invalid floating-point number at JSON byte 6"},
      {".5", "unexpected JSON token at JSON byte 0"},
      {"+1", "unexpected JSON token at JSON byte 0"},
      {"]", "unexpected JSON token at JSON byte 0"},
      {"\xEF\xBB\xBF{}", "unexpected JSON token at JSON byte 0"},
      {"\"abc", "unterminated string at JSON byte 4"},
      {"\"a\tb\"", "unescaped control character in string at JSON byte 3"},
      {"\"\\", "truncated string escape at JSON byte 2"},
      {"\"\\x\"", "invalid string escape at JSON byte 3"},
      {"\"\\u12", "truncated Unicode escape at JSON byte 3"},
      {"\"\\u12g4\"", "invalid Unicode escape at JSON byte 6"},
      {"\"\\udc00\"", "unpaired low surrogate at JSON byte 7"},
      {"\"\\ud800x\"", "missing low surrogate at JSON byte 7"},
      {"\"\\ud800\\n0000\"", "missing low surrogate at JSON byte 7"},
      {"\"\\ud800\\u0041\"", "invalid low surrogate at JSON byte 13"},
  };
  for (const SyntaxCase& c : cases) {
    EXPECT_EQ(parse_error(c.text), c.message) << "input: " << c.text;
  }
}

// Objects with keys out of order are checked for duplicates only once they end; the error
// must still be the one a member-by-member reader meets first.
TEST(JsonReader, FirstRepeatedKeyWinsWhateverFollows) {
  const SyntaxCase cases[] = {
      {R"({"b":1,"a":2,"b":3,x)", "duplicate object key at JSON byte 18"},
      {R"({"b":1,"a":2,"b":3,"c":[})", "duplicate object key at JSON byte 18"},
      {R"({"z":1,"y":2,"z":3,"y":4})", "duplicate object key at JSON byte 18"},
      {R"({"b":1,"a":2,"b":3,"b":4})", "duplicate object key at JSON byte 18"},
      {R"({"b":1,"a":{"x":1,"x":2}})", "duplicate object key at JSON byte 23"},
      {R"({"b":1,"a":2,"b":3,"c":{"x":1,"x":2}})", "duplicate object key at JSON byte 18"},
      {R"({"b":1,"a":[1,2,x],"b":3})", "unexpected JSON token at JSON byte 16"},
      {R"([{"b":1,"a":2}, {"a":1,"a":2}])", "duplicate object key at JSON byte 28"},
  };
  for (const SyntaxCase& c : cases) {
    EXPECT_EQ(parse_error(c.text), c.message) << "input: " << c.text;
  }
  const JsonValue value = parse_json(R"({"c":3,"a":1,"b":2,"":0,"\u0000":5})");
  std::vector<std::pair<std::string, long long>> members;
  for (const auto& [key, member] : value.as_object("")) members.emplace_back(key, member.as_integer(""));
  EXPECT_EQ(members, (std::vector<std::pair<std::string, long long>>{
                         {"", 0}, {std::string(1, '\0'), 5}, {"a", 1}, {"b", 2}, {"c", 3}}));
}

TEST(JsonReader, IntegersAreKeptApartFromNumbers) {
  EXPECT_EQ(parse_json("9223372036854775807").as_integer(""), 9223372036854775807LL);
  EXPECT_EQ(parse_json("-9223372036854775808").as_integer(""),
            std::numeric_limits<long long>::min());
  const JsonValue too_big = parse_json("9223372036854775808");
  EXPECT_FALSE(too_big.is_integer());
  EXPECT_DOUBLE_EQ(too_big.as_number(""), 9223372036854775808.0);
  EXPECT_FALSE(parse_json("-9223372036854775809").is_integer());
  EXPECT_EQ(parse_json("-0").as_integer(""), 0);
  const JsonValue negative_zero = parse_json("-0.0");
  EXPECT_FALSE(negative_zero.is_integer());
  EXPECT_TRUE(std::signbit(negative_zero.as_number("")));
  EXPECT_FALSE(parse_json("1.0").is_integer());
  EXPECT_EQ(parse_json("1E2").as_number(""), 100.0);
  EXPECT_EQ(parse_json(" 42 ").as_integer(""), 42);
  EXPECT_EQ(parse_json("0.1").as_number(""), 0.1);
  EXPECT_EQ(parse_json("1.7976931348623157e308").as_number(""),
            std::numeric_limits<double>::max());
}

TEST(JsonReader, UnderflowGivesZeroOrSubnormal) {
  EXPECT_EQ(parse_json("1e-400").as_number(""), 0.0);
  EXPECT_TRUE(std::signbit(parse_json("-1e-400").as_number("")));
  EXPECT_EQ(parse_json("4.9406564584124654e-324").as_number(""),
            std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(parse_json("2.2250738585072009e-308").as_number(""), 2.2250738585072009e-308);
  EXPECT_EQ(parse_json("0.000e99999").as_number(""), 0.0);
}

TEST(JsonReader, StringsDecodeEscapesToUtf8) {
  EXPECT_EQ(parse_json(R"("\u00e9")").as_string(""), "\xC3\xA9");
  EXPECT_EQ(parse_json(R"("\u20AC")").as_string(""), "\xE2\x82\xAC");
  EXPECT_EQ(parse_json(R"("\ud83d\ude00")").as_string(""), "\xF0\x9F\x98\x80");
  EXPECT_EQ(parse_json(R"("\u0000")").as_string(""), std::string(1, '\0'));
  EXPECT_EQ(parse_json(R"("\"\\\/\b\f\n\r\t")").as_string(""), "\"\\/\b\f\n\r\t");
  // Raw UTF-8 is copied as it stands, up to the four-byte forms at both ends of their range.
  EXPECT_EQ(parse_json("\"\xC3\xA9\x7F\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"").as_string(""),
            "\xC3\xA9\x7F\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
}

// Ill-formed UTF-8 in a string or key is refused where it is read, at the first byte of the
// faulty sequence, instead of failing later wherever the text is first decoded.
TEST(JsonReader, IllFormedUtf8IsRefusedAtItsFirstByte) {
  const SyntaxCase cases[] = {
      {"\"\xFF\"", "invalid UTF-8 in string at JSON byte 1"},
      {"\"ab\x80\"", "invalid UTF-8 in string at JSON byte 3"},            // stray continuation
      {"\"\xC3\"", "invalid UTF-8 in string at JSON byte 1"},              // cut off by the quote
      {"\"\xC3", "invalid UTF-8 in string at JSON byte 1"},                 // cut off by the end
      {"\"\xE2\x82\"", "invalid UTF-8 in string at JSON byte 1"},
      {"\"\xC0\xAF\"", "invalid UTF-8 in string at JSON byte 1"},          // overlong '/'
      {"\"\xE0\x80\xAF\"", "invalid UTF-8 in string at JSON byte 1"},      // overlong
      {"\"\xF0\x8F\xBF\xBF\"", "invalid UTF-8 in string at JSON byte 1"},  // overlong
      {"\"\xED\xA0\x80\"", "invalid UTF-8 in string at JSON byte 1"},      // a surrogate
      {"\"\xF4\x90\x80\x80\"", "invalid UTF-8 in string at JSON byte 1"},  // above U+10FFFF
      {"\"\xF8\x88\x80\x80\x80\"", "invalid UTF-8 in string at JSON byte 1"},
      {"\"\xE2\x82\x41\"", "invalid UTF-8 in string at JSON byte 1"},
      {"{\"ok\":1,\"k\xFE\":2}", "invalid UTF-8 in string at JSON byte 10"},  // in a key
      {"[\"\xC3\xA9\", \"\xA9\"]", "invalid UTF-8 in string at JSON byte 8"},
  };
  for (const SyntaxCase& c : cases) {
    EXPECT_EQ(parse_error(c.text), c.message) << "input: " << c.text;
  }
}

TEST(JsonReader, ReadsNestedDocuments) {
  const JsonValue value =
      parse_json(" {\"list\": [true, false, null, -1.5, {\"k\": []}], \"empty\": {}}\r\n\t");
  const auto& list = value.at("list", "").as_array("");
  ASSERT_EQ(list.size(), 5u);
  EXPECT_TRUE(list[0].as_bool(""));
  EXPECT_FALSE(list[1].as_bool(""));
  EXPECT_TRUE(list[2].is_null());
  EXPECT_EQ(list[3].as_number(""), -1.5);
  EXPECT_TRUE(list[4].at("k", "").as_array("").empty());
  EXPECT_TRUE(value.at("empty", "").as_object("").empty());
}

TEST(JsonReader, NestingIsBoundedInsteadOfExhaustingTheStack) {
  const std::size_t limit = velmora::detail::kMaxJsonDepth;
  const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
  EXPECT_TRUE(parse_json(deepest).is_array());
  EXPECT_EQ(parse_error(std::string(limit + 1, '[') + std::string(limit + 1, ']')),
            "JSON nesting too deep at JSON byte " + std::to_string(limit));
  std::string objects;
  for (std::size_t i = 0; i <= limit; ++i) objects += "{\"a\":";
  EXPECT_EQ(parse_error(objects), "JSON nesting too deep at JSON byte " + std::to_string(5 * limit));
  EXPECT_EQ(parse_error(std::string(1'000'000, '[')),
            "JSON nesting too deep at JSON byte " + std::to_string(limit));
}

class JsonFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("velmora_json_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(JsonFiles, LoadsBytesUnchanged) {
  const std::string content = "\xEF\xBB\xBF{\"a\": 1}\r\n";
  std::ofstream(dir_ / "x.json", std::ios::binary) << content;
  EXPECT_EQ(load_text_file(dir_ / "x.json"), content);
  std::ofstream(dir_ / "y.json", std::ios::binary) << "[1, 2]";
  EXPECT_EQ(load_json(dir_ / "y.json").as_array("").size(), 2u);
  std::ofstream(dir_ / "empty.json", std::ios::binary);
  EXPECT_EQ(load_text_file(dir_ / "empty.json"), "");
}

TEST_F(JsonFiles, RefusesMissingAndNonRegularFiles) {
  auto error_of = [](const std::filesystem::path& path) -> std::string {
    try {
      load_json(path);
    } catch (const JsonError& error) {
      return error.what();
    }
    return "<no error>";
  };
  const std::filesystem::path relative = "no/such/file.json";
  EXPECT_EQ(error_of(relative), "cannot open JSON file: no/such/file.json");
  EXPECT_EQ(error_of(dir_), "JSON file is not a regular file: " + dir_.string());
  // A FIFO must be refused at once, not block waiting for a writer.
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(error_of(dir_ / "fifo"), "JSON file is not a regular file: " + (dir_ / "fifo").string());
  std::ofstream(dir_ / "empty.json", std::ios::binary);
  EXPECT_EQ(error_of(dir_ / "empty.json"), "unexpected end of JSON at JSON byte 0");
}

}  // namespace
