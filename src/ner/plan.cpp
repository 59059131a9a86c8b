// The tagger's public operations: load, tag one sentence, tag a document and rebuild its
// entity spans.

#include <utility>

#include "models/model_config.hpp"
#include "ner/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/model_bundle.hpp"

namespace velmora {

NERPlan::NERPlan(std::filesystem::path bundle_path, bool verify_checksums) : impl_(std::make_unique<Impl>()) {
  detail::with_model_error<NERModelError>(
      [&] { detail::load_ner_model(*impl_, std::move(bundle_path), verify_checksums); });
}

NERPlan::~NERPlan() = default;
NERPlan::NERPlan(NERPlan&&) noexcept = default;
NERPlan& NERPlan::operator=(NERPlan&&) noexcept = default;

const ModelBundle& NERPlan::bundle() const { return *impl_->bundle; }

std::vector<std::string> NERPlan::tag(const std::vector<std::string>& tokens) const {
  return detail::ner_tag_sentence(*impl_, tokens);
}

Document NERPlan::process(Document document) const {
  // Every sentence is tagged before the first tag is written, so a sentence that cannot be
  // tagged leaves the document, its tags and its entity spans as they were.
  const SentenceSequence sentences = document.sentences();
  std::vector<std::vector<std::string>> tags_of;
  tags_of.reserve(sentences.size());
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    const TokenSequence tokens = sentences.at(static_cast<long>(s)).tokens();
    std::vector<std::string> texts;
    texts.reserve(tokens.size());
    for (std::size_t t = 0; t < tokens.size(); ++t) texts.push_back(tokens.at(static_cast<long>(t)).text());
    tags_of.push_back(tag(texts));
  }
  for (std::size_t s = 0; s < sentences.size(); ++s) {
    const TokenSequence tokens = sentences.at(static_cast<long>(s)).tokens();
    const std::vector<std::string>& tags = tags_of[s];
    for (std::size_t t = 0; t < tags.size(); ++t) {
      Token token = tokens.at(static_cast<long>(t));
      token.set_ner(tags[t]);
      token.set_multi_ner({tags[t]});
    }
  }
  document.rebuild_entities();
  return document;
}

}  // namespace velmora
