// Helpers every model loader shares: the bundle dtype table and read-only tensor views, the
// LSTM parameter order of at::lstm, typed configuration reads and the JSON-to-model error
// conversion.

#include <gtest/gtest.h>

#include "models/lstm_parameters.hpp"
#include "models/model_config.hpp"
#include "models/tensor_view.hpp"
#include "velmora/errors.hpp"

namespace {

using velmora::detail::JsonError;
using velmora::detail::parse_json;

TEST(SharedModelHelpers, DtypeTableCoversTheTenBundleDtypes) {
  const std::vector<std::pair<const char*, at::ScalarType>> known = {
      {"uint8", at::kByte},     {"int8", at::kChar},       {"int16", at::kShort}, {"int32", at::kInt},
      {"int64", at::kLong},     {"float16", at::kHalf},    {"float32", at::kFloat}, {"float64", at::kDouble},
      {"bool", at::kBool},      {"bfloat16", at::kBFloat16},
  };
  for (const auto& [name, type] : known) EXPECT_EQ(velmora::detail::bundle_scalar_type(name), type) << name;
  for (const char* other : {"uint16", "uint32", "uint64", "complex64", "float8", ""}) {
    EXPECT_FALSE(velmora::detail::bundle_scalar_type(other).has_value()) << other;
  }
}

TEST(SharedModelHelpers, TensorViewsShareTheBytesTheyView) {
  alignas(8) const float values[6] = {1, 2, 3, 4, 5, 6};
  const at::Tensor view = velmora::detail::read_only_view(reinterpret_cast<const std::byte*>(values), at::kFloat, {2, 3});
  EXPECT_EQ(view.data_ptr(), static_cast<const void*>(values));
  EXPECT_EQ(view.sizes(), (std::vector<std::int64_t>{2, 3}));
  EXPECT_FLOAT_EQ(view[1][2].item<float>(), 6.0F);
}

TEST(SharedModelHelpers, LstmParametersFollowTheTensorLibraryOrder) {
  std::vector<std::string> requested;
  auto weight = [&](const std::string& name) {
    requested.push_back(name);
    return at::zeros({1});
  };
  EXPECT_EQ(velmora::detail::lstm_parameters(weight, "rnn.", 2, true).size(), 16U);
  const std::vector<std::string> first_layer = {
      "rnn.weight_ih_l0",         "rnn.weight_hh_l0",         "rnn.bias_ih_l0",         "rnn.bias_hh_l0",
      "rnn.weight_ih_l0_reverse", "rnn.weight_hh_l0_reverse", "rnn.bias_ih_l0_reverse", "rnn.bias_hh_l0_reverse"};
  EXPECT_EQ(std::vector<std::string>(requested.begin(), requested.begin() + 8), first_layer);
  EXPECT_EQ(requested[8], "rnn.weight_ih_l1");
  requested.clear();
  velmora::detail::lstm_parameters(weight, "enc.", 1, false, false);
  EXPECT_EQ(requested, (std::vector<std::string>{"enc.weight_ih_l0", "enc.weight_hh_l0"}));
}

TEST(SharedModelHelpers, ConfigReadsTakeDefaultsAndNameTheKeyInTypeErrors) {
  const auto config = parse_json(R"({"n": 3, "f": 1.5, "b": true, "s": "x", "nul": null, "bad": "7"})");
  EXPECT_EQ(velmora::detail::config_int(config, "n", 9), 3);
  EXPECT_EQ(velmora::detail::config_int(config, "absent", 9), 9);
  EXPECT_EQ(velmora::detail::config_int(config, "nul", 9), 9);
  EXPECT_TRUE(velmora::detail::config_bool(config, "b", false));
  EXPECT_TRUE(velmora::detail::config_bool(config, "absent", true));
  EXPECT_DOUBLE_EQ(velmora::detail::config_double(config, "n"), 3.0);
  EXPECT_DOUBLE_EQ(velmora::detail::config_double(config, "f"), 1.5);
  EXPECT_DOUBLE_EQ(velmora::detail::config_double(config, "absent"), 0.0);
  EXPECT_EQ(velmora::detail::config_string(config, "s"), "x");
  // A null member names nothing, as an absent one (a "bert_model": null means no transformer).
  EXPECT_TRUE(velmora::detail::config_has(config, "s"));
  EXPECT_FALSE(velmora::detail::config_has(config, "nul"));
  EXPECT_FALSE(velmora::detail::config_has(config, "absent"));

  const std::vector<std::pair<std::function<void()>, std::string>> failures = {
      {[&] { velmora::detail::config_int(config, "bad", 0); }, "expected JSON integer at assets.config.bad"},
      {[&] { velmora::detail::config_int(config, "f", 0); }, "expected JSON integer at assets.config.f"},
      {[&] { velmora::detail::config_bool(config, "n", false); }, "expected JSON boolean at assets.config.n"},
      {[&] { velmora::detail::config_double(config, "s"); }, "expected JSON number at assets.config.s"},
      {[&] { velmora::detail::config_string(config, "n"); }, "expected JSON string at assets.config.n"},
      {[&] { velmora::detail::config_string(config, "absent"); }, "missing JSON key 'absent' at assets.config"},
  };
  for (const auto& [read, message] : failures) {
    try {
      read();
      ADD_FAILURE() << message;
    } catch (const JsonError& error) {
      EXPECT_EQ(std::string(error.what()), message);
    }
  }
}

TEST(SharedModelHelpers, UnitVocabulariesNameTheBadEntry) {
  const auto vocab = parse_json(R"({"_unit2id": {"<PAD>": 0, "a": 2}})");
  const auto ids = velmora::detail::read_unit2id(vocab, "assets.vocab.char");
  EXPECT_EQ(ids.size(), 2U);
  EXPECT_EQ(ids.at("a"), 2);
  try {
    velmora::detail::read_unit2id(parse_json(R"({"_unit2id": {"b": "x"}})"), "assets.vocab.char");
    ADD_FAILURE();
  } catch (const JsonError& error) {
    EXPECT_STREQ(error.what(), "expected JSON integer at assets.vocab.char._unit2id.b");
  }
}

TEST(SharedModelHelpers, JsonErrorsBecomeTheModelsOwnError) {
  EXPECT_EQ(velmora::detail::with_model_error<velmora::POSModelError>([] { return 7; }), 7);
  try {
    velmora::detail::with_model_error<velmora::POSModelError>([] { return parse_json("[1,"); });
    ADD_FAILURE();
  } catch (const velmora::POSModelError& error) {
    EXPECT_NE(std::string(error.what()).find(" at JSON byte "), std::string::npos);
  }
  // Other failures pass through unchanged.
  EXPECT_THROW(velmora::detail::with_model_error<velmora::POSModelError>(
                   []() -> int { throw velmora::ModelBundleError("bundle"); }),
               velmora::ModelBundleError);
}

}  // namespace
