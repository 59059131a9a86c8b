#pragma once

// Pipeline stages: the fixed table of the eleven processors and the processor classes that
// wrap their model plans. A processor exists with or without a model; without one it keeps
// its identity, reports implemented() as false and refuses every operation that needs a model.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "velmora/constituency_tree.hpp"
#include "velmora/document.hpp"

namespace velmora {

// Each stage holds its model plan by pointer; the plan types belong to their own models.
class LangIDPlan;
class TokenizerPlan;
class MWTPlan;
class POSPlan;
class LemmaPlan;
class DepparsePlan;
class NERPlan;
class SentimentPlan;
class ConstituencyPlan;
class CorefPlan;
class MorphSegPlan;

/// One row of the processor table.
struct ProcessorSpec {
  std::string name;
  /// Processors that must appear earlier in the same pipeline, in reporting order.
  std::vector<std::string> requirements;
  /// What the processor makes available to later processors: always exactly its name.
  std::vector<std::string> provides;
  /// Group label: "ud", "extended" or "coref".
  std::string module;

  friend bool operator==(const ProcessorSpec&, const ProcessorSpec&) = default;
};

/// The eleven processors in table order, built afresh on every call.
std::vector<ProcessorSpec> processor_specs();

class Processor;

/// A new model-less processor of the given name (exact, case-sensitive match); any other
/// name throws std::invalid_argument.
std::shared_ptr<Processor> make_processor(const std::string& name);

namespace detail {

/// The only way to fill a spec: `provides` becomes the one-element list of the name.
ProcessorSpec make_processor_spec(std::string name, std::vector<std::string> requirements,
                                  std::string module);

/// The text of every document, in list order.
std::vector<std::string> document_texts(const std::vector<Document>& documents);

/// Sets language i on document i. The identifier's answer must hold exactly one language per
/// document; any other count is refused before a single document is changed.
void set_document_languages(std::vector<Document>& documents,
                            const std::vector<std::string>& languages);

}  // namespace detail

/// One stage of a pipeline: takes a document and returns it annotated by one model.
class Processor {
 public:
  explicit Processor(ProcessorSpec spec);
  virtual ~Processor();

  const std::string& name() const { return name_; }
  const std::vector<std::string>& requirements() const { return requirements_; }
  const std::vector<std::string>& provides() const { return provides_; }
  const std::string& module() const { return module_; }

  /// Whether a model is loaded. The base class has none.
  virtual bool implemented() const;
  /// Without a model: throws ProcessorNotImplementedError.
  virtual Document process(Document document) const;
  /// Runs the virtual process() on each document in turn; an empty list comes back empty.
  virtual std::vector<Document> process_bulk(std::vector<Document> documents) const;

 protected:
  /// Only a processor's own constructor may change its requirements (the lemmatizer does
  /// when its model reads part-of-speech tags).
  void set_requirements(std::vector<std::string> requirements);

  /// Throws the error of a model operation called on a processor without a model.
  [[noreturn]] void throw_no_model() const;

  /// The plan of a model operation; without one, throws as throw_no_model() does.
  template <class Plan>
  const Plan& loaded(const std::shared_ptr<const Plan>& plan) const {
    if (!plan) throw_no_model();
    return *plan;
  }

 private:
  std::string name_;
  std::vector<std::string> requirements_;
  std::vector<std::string> provides_;
  std::string module_;
};

/// "langid": sets the document language.
class LangIDProcessor : public Processor {
 public:
  LangIDProcessor();
  /// Loads the identifier from a "langid" bundle directory; a non-empty subset restricts
  /// every answer to those of the model's languages.
  LangIDProcessor(std::filesystem::path bundle_path, bool verify_checksums,
                  std::vector<std::string> language_subset);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::string identify(const std::string& text) const;
  std::vector<std::string> identify_many(const std::vector<std::string>& texts) const;
  /// Languages the identifier may answer; empty means all of the model's languages.
  const std::vector<std::string>& language_subset() const { return language_subset_; }

 private:
  std::shared_ptr<const LangIDPlan> plan_;
  std::vector<std::string> language_subset_;
};

/// "tokenize": builds a new document of sentences, tokens and words from the text.
class TokenizeProcessor : public Processor {
 public:
  TokenizeProcessor();
  /// Loads the tokenizer model from a "tokenize" bundle directory.
  TokenizeProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::vector<std::int64_t> predict_labels(const std::string& text) const;

 private:
  std::shared_ptr<const TokenizerPlan> plan_;
};

/// "mwt": expands multi-word tokens, one document at a time.
class MWTProcessor : public Processor {
 public:
  MWTProcessor();
  /// Loads the expander from an "mwt" bundle directory.
  MWTProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::string expand(const std::string& token) const;

 private:
  std::shared_ptr<const MWTPlan> plan_;
};

/// "pos": universal and language-specific part of speech and morphological features.
class POSProcessor : public Processor {
 public:
  POSProcessor();
  /// Loads the tagger from a "pos" bundle directory.
  POSProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;

 private:
  std::shared_ptr<const POSPlan> plan_;
};

/// "lemma": word lemmas.
class LemmaProcessor : public Processor {
 public:
  LemmaProcessor();
  /// Loads the lemmatizer from a "lemma" bundle directory; a model that reads POS tags makes
  /// the stage require "pos" too.
  LemmaProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::string lemmatize(const std::string& word, const std::optional<std::string>& upos) const;

 private:
  std::shared_ptr<const LemmaPlan> plan_;
};

/// "depparse": dependency heads and relations.
class DepparseProcessor : public Processor {
 public:
  DepparseProcessor();
  /// Loads the parser from a "depparse" bundle directory.
  DepparseProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;

 private:
  std::shared_ptr<const DepparsePlan> plan_;
};

/// "ner": named-entity tags and entity spans, one document at a time.
class NERProcessor : public Processor {
 public:
  NERProcessor();
  /// Loads the tagger from an "ner" bundle directory.
  NERProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::vector<std::string> tag(const std::vector<std::string>& tokens) const;

 private:
  std::shared_ptr<const NERPlan> plan_;
};

/// "sentiment": one sentiment class per sentence.
class SentimentProcessor : public Processor {
 public:
  SentimentProcessor();
  /// Loads the classifier from a "sentiment" bundle directory.
  SentimentProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::int64_t classify(const std::vector<std::string>& words) const;
  std::vector<std::int64_t> classify_many(const std::vector<std::vector<std::string>>& sentences,
                                          std::size_t batch_size) const;

 private:
  std::shared_ptr<const SentimentPlan> plan_;
};

/// "constituency": one constituency tree per sentence.
class ConstituencyProcessor : public Processor {
 public:
  ConstituencyProcessor();
  /// Loads the parser from a "constituency" bundle directory.
  ConstituencyProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  bool uses_xpos() const;
  ConstituencyTree parse(const std::vector<std::string>& words,
                         const std::vector<std::string>& tags) const;
  std::vector<ConstituencyTree> parse_many(const std::vector<std::vector<std::string>>& sentences,
                                           const std::vector<std::vector<std::string>>& tags) const;

 private:
  std::shared_ptr<const ConstituencyPlan> plan_;
};

/// "coref": coreference chains, with generated empty words for zero anaphora.
class CorefProcessor : public Processor {
 public:
  CorefProcessor();
  /// Loads the resolver from a "coref" bundle directory.
  CorefProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  bool predicts_singletons() const;
  bool predicts_zero_anaphora() const;

 private:
  std::shared_ptr<const CorefPlan> plan_;
};

/// "morphseg": morpheme segmentation of every word.
class MorphSegProcessor : public Processor {
 public:
  MorphSegProcessor();
  /// Loads the segmenter from a "morphseg" bundle directory.
  MorphSegProcessor(std::filesystem::path bundle_path, bool verify_checksums);

  bool implemented() const override;
  Document process(Document document) const override;
  std::vector<Document> process_bulk(std::vector<Document> documents) const override;

  std::optional<std::filesystem::path> bundle_path() const;
  std::vector<std::string> segment(const std::string& word) const;
  std::vector<std::vector<std::string>> segment_many(const std::vector<std::string>& words) const;

 private:
  std::shared_ptr<const MorphSegPlan> plan_;
};

}  // namespace velmora
