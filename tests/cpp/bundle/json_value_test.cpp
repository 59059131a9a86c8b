// Typed access to JSON values and the wording of type and key errors.

#include <gtest/gtest.h>

#include "velmora/json.hpp"

namespace {

using velmora::detail::JsonError;
using velmora::detail::JsonValue;
using velmora::detail::parse_json;

std::string error_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const JsonError& error) {
    return error.what();
  }
  return "<no error>";
}

TEST(JsonValue, EachKindAnswersOnlyItsOwnTest) {
  const JsonValue values[] = {JsonValue(),          JsonValue(true),
                              JsonValue(3LL),       JsonValue(2.5),
                              JsonValue("text"),    JsonValue(JsonValue::Array{}),
                              JsonValue(JsonValue::Object{})};
  for (std::size_t kind = 0; kind < std::size(values); ++kind) {
    const JsonValue& value = values[kind];
    EXPECT_EQ(value.is_null(), kind == 0);
    EXPECT_EQ(value.is_bool(), kind == 1);
    EXPECT_EQ(value.is_integer(), kind == 2);
    EXPECT_EQ(value.is_number(), kind == 2 || kind == 3);
    EXPECT_EQ(value.is_string(), kind == 4);
    EXPECT_EQ(value.is_array(), kind == 5);
    EXPECT_EQ(value.is_object(), kind == 6);
  }
}

TEST(JsonValue, IntegerIsANumberButANumberIsNotAnInteger) {
  EXPECT_EQ(JsonValue(3LL).as_number("x"), 3.0);
  EXPECT_EQ(error_of([] { JsonValue(3.0).as_integer("manifest.tensor_alignment"); }),
            "expected JSON integer at manifest.tensor_alignment");
}

TEST(JsonValue, TypeErrorsNameTheKindAndOptionalPath) {
  const JsonValue number(1.5);
  const JsonValue text("x");
  EXPECT_EQ(error_of([&] { text.as_bool("a.b"); }), "expected JSON boolean at a.b");
  EXPECT_EQ(error_of([&] { text.as_integer("a"); }), "expected JSON integer at a");
  EXPECT_EQ(error_of([&] { text.as_number("a"); }), "expected JSON number at a");
  EXPECT_EQ(error_of([&] { number.as_string(""); }), "expected JSON string");
  EXPECT_EQ(error_of([&] { number.as_array("list"); }), "expected JSON array at list");
  EXPECT_EQ(error_of([&] { number.as_object("obj"); }), "expected JSON object at obj");
  EXPECT_EQ(error_of([] { JsonValue::throw_type("widget", "p"); }), "expected JSON widget at p");
}

TEST(JsonValue, ObjectsIterateInByteOrderOfKeys) {
  const JsonValue value = parse_json(R"({"b": 1, "a": 2, "aa": 3, "\u00e9": 4, "B": 5})");
  std::vector<std::string> keys;
  for (const auto& [key, member] : value.as_object("")) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "aa", "b", "\xC3\xA9"}));
}

TEST(JsonValue, AtAndFindLookUpMembers) {
  const JsonValue object = parse_json(R"({"format": "x", "it's a key": 1})");
  EXPECT_EQ(object.at("format", "manifest").as_string(""), "x");
  ASSERT_NE(object.find("format"), nullptr);
  EXPECT_EQ(object.find("absent"), nullptr);
  EXPECT_EQ(error_of([&] { object.at("tensors", "manifest"); }),
            "missing JSON key 'tensors' at manifest");
  EXPECT_EQ(error_of([&] { object.at("key with 'quote' and spaces", ""); }),
            "missing JSON key 'key with 'quote' and spaces'");
  for (const JsonValue& other : {parse_json("[1]"), parse_json("\"s\""), JsonValue()}) {
    EXPECT_EQ(other.find("format"), nullptr);
    EXPECT_EQ(error_of([&] { other.at("format", "manifest"); }),
              "expected JSON object at manifest");
  }
}

TEST(JsonValue, CopiesAreIndependentValues) {
  JsonValue original = parse_json(R"({"a": [1, 2]})");
  JsonValue copy = original;
  original = JsonValue(false);
  EXPECT_EQ(copy.at("a", "").as_array("").size(), 2u);
  EXPECT_TRUE(JsonValue().is_null());
}

}  // namespace
