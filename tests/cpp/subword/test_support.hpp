#pragma once

// Helpers of the subword tokenizer tests: the reference data of tests/support/subword_test_data.py
// (the ctest fixture's directory, or written once by this process when the fixture did not
// run) and tokenizers built from its arguments.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_data.hpp"
#include "velmora/json.hpp"
#include "velmora/subword.hpp"
#include "velmora/unicode.hpp"

namespace subword_test {

using velmora::detail::JsonValue;

// The folder of the suite's data: the ctest fixture's, or written by this process.
struct SubwordTestData {
  static const std::filesystem::path& dir() { return velmora::testing::SuiteTestData::dir("subword"); }
  static bool complete() { return velmora::testing::SuiteTestData::complete("subword"); }
};

inline JsonValue load_data(const std::string& name) {
  return velmora::detail::load_json(SubwordTestData::dir() / (name + ".json"));
}

inline std::vector<std::string> strings(const JsonValue& array) {
  std::vector<std::string> out;
  for (const auto& value : array.as_array("")) out.push_back(value.as_string(""));
  return out;
}

inline std::vector<std::int64_t> integers(const JsonValue& array) {
  std::vector<std::int64_t> out;
  for (const auto& value : array.as_array("")) out.push_back(value.as_integer(""));
  return out;
}

inline velmora::WordPieceTokenizer make_wordpiece(const JsonValue& a) {
  return velmora::WordPieceTokenizer(
      strings(a.at("vocabulary", "")), a.at("lowercase", "").as_bool(""), a.at("strip_accents", "").as_bool(""),
      a.at("unknown_token", "").as_string(""), a.at("cls_token", "").as_string(""),
      a.at("sep_token", "").as_string(""), a.at("continuing_subword_prefix", "").as_string(""),
      static_cast<std::uint64_t>(a.at("max_input_characters_per_word", "").as_integer("")));
}

inline velmora::ByteBPETokenizer make_bpe(const JsonValue& a) {
  std::vector<std::pair<std::string, std::string>> merges;
  for (const auto& merge : a.at("merges", "").as_array("")) {
    merges.emplace_back(merge.as_array("")[0].as_string(""), merge.as_array("")[1].as_string(""));
  }
  return velmora::ByteBPETokenizer(strings(a.at("vocabulary", "")), std::move(merges),
                                   a.at("unknown_token", "").as_string(""), a.at("cls_token", "").as_string(""),
                                   a.at("sep_token", "").as_string(""), a.at("add_prefix_space", "").as_bool(""));
}

inline velmora::XLMRobertaTokenizer make_unigram(const JsonValue& a) {
  std::vector<float> scores;
  for (const auto& score : a.at("scores", "").as_array("")) scores.push_back(static_cast<float>(score.as_number("")));
  std::vector<std::uint8_t> charsmap;
  for (const auto value : integers(a.at("precompiled_charsmap", ""))) {
    charsmap.push_back(static_cast<std::uint8_t>(value));
  }
  return velmora::XLMRobertaTokenizer(strings(a.at("vocabulary", "")), std::move(scores), std::move(charsmap),
                                      a.at("unknown_id", "").as_integer(""), a.at("cls_token", "").as_string(""),
                                      a.at("sep_token", "").as_string(""));
}

/// `leading` followed by the base token of every byte value (GPT-2's byte-to-unicode table),
/// leaving out `skip`.
inline std::vector<std::string> byte_level_vocabulary(std::vector<std::string> leading, const std::string& skip = "") {
  std::uint32_t shifted = 0x100;
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const bool printable = (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || byte >= 0xAE;
    std::string token;
    velmora::detail::append_utf8(token, static_cast<char32_t>(printable ? byte : shifted++));
    if (token != skip) leading.push_back(token);
  }
  return leading;
}

}  // namespace subword_test
