#pragma once

// The exception classes of the system. Each model raises its own subclass of
// ModelBundleError so that callers can tell which model failed; everything else uses the
// standard exception classes (invalid_argument, out_of_range, overflow_error, logic_error).

#include <stdexcept>
#include <string>

namespace velmora {

/// Processing was asked of a processor that has no loaded model.
class ProcessorNotImplementedError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// A pipeline's processors lack a requirement that an earlier processor must provide.
class ProcessorRequirementsError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

/// A model bundle, its manifest, tensor file or model index is unusable, or a model cannot
/// process its input.
class ModelBundleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#define VELMORA_MODEL_ERROR(Name)            \
  class Name : public ModelBundleError {     \
   public:                                   \
    using ModelBundleError::ModelBundleError; \
  };

VELMORA_MODEL_ERROR(TokenizerModelError)
VELMORA_MODEL_ERROR(Seq2SeqModelError)
VELMORA_MODEL_ERROR(MWTModelError)
VELMORA_MODEL_ERROR(POSModelError)
VELMORA_MODEL_ERROR(LemmaModelError)
VELMORA_MODEL_ERROR(DepparseModelError)
VELMORA_MODEL_ERROR(NERModelError)
VELMORA_MODEL_ERROR(SentimentModelError)
VELMORA_MODEL_ERROR(ConstituencyModelError)
VELMORA_MODEL_ERROR(CorefModelError)
VELMORA_MODEL_ERROR(CharLMModelError)
VELMORA_MODEL_ERROR(LangIDModelError)
VELMORA_MODEL_ERROR(MorphSegModelError)

#undef VELMORA_MODEL_ERROR

/// The WordPiece tokenizer cannot load its vocabulary or encode its input.
class WordPieceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The byte-level BPE or XLM-R unigram tokenizer cannot load or encode.
class SubwordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The transformer encoder cannot load its package or encode its input.
class TransformerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora
