// The per-document string pool hands out dense ids and never the "no value" id.
#include <gtest/gtest.h>

#include <string>

#include "document_records.hpp"
#include "velmora/string_pool.hpp"

namespace {

using doc_test::expect_error;
using velmora::StringPool;

TEST(StringPool, EmptyStringIsIdZero) {
  StringPool pool;
  EXPECT_EQ(pool.size(), 1u);
  EXPECT_EQ(pool.get(0), "");
  EXPECT_EQ(pool.intern(""), 0u);
  EXPECT_EQ(pool.size(), 1u);
}

TEST(StringPool, EqualStringsShareOneId) {
  StringPool pool;
  EXPECT_EQ(pool.intern("a"), 1u);
  EXPECT_EQ(pool.intern("b"), 2u);
  EXPECT_EQ(pool.intern("a"), 1u);
  EXPECT_EQ(pool.get(2), "b");
}

TEST(StringPool, ManyStringsKeepTheirIdsAcrossGrowth) {
  StringPool pool;
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(pool.intern(doc_test::numbered("s", i)), i + 1u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(pool.intern(doc_test::numbered("s", i)), i + 1u);
  EXPECT_EQ(pool.size(), 5001u);
  EXPECT_EQ(pool.get(4321), "s4320");
}

TEST(StringPool, OptionalStringsKeepNoneApartFromEmpty) {
  StringPool pool;
  EXPECT_EQ(pool.intern_optional(std::nullopt), velmora::kNoString);
  EXPECT_EQ(pool.size(), 1u);
  EXPECT_EQ(pool.intern_optional(std::string()), 0u);
  EXPECT_FALSE(pool.optional(velmora::kNoString).has_value());
  EXPECT_EQ(pool.optional(0), std::optional<std::string>(""));
}

TEST(StringPool, UnknownIdsAreRefused) {
  StringPool pool;
  pool.intern("x");
  const unsigned n = static_cast<unsigned>(pool.size());
  expect_error<std::out_of_range>([&] { pool.get(velmora::kNoString); },
                                  "invalid string pool identifier");
  expect_error<std::out_of_range>([&] { pool.get(n); }, "invalid string pool identifier");
  expect_error<std::out_of_range>([&] { pool.optional(n); }, "invalid string pool identifier");
}

TEST(StringPool, FullPoolRefusesNewStringsAndStaysUnchanged) {
  StringPool pool(3);
  pool.intern("a");
  pool.intern("b");
  expect_error<std::overflow_error>([&] { pool.intern("c"); }, "the document string pool is full");
  EXPECT_EQ(pool.size(), 3u);
  EXPECT_EQ(pool.intern("b"), 2u);  // known strings are still found
  expect_error<std::overflow_error>([&] { pool.intern("c"); }, "the document string pool is full");
}

}  // namespace
