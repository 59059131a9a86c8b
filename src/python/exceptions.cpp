// The Python exception types of the system. Each type translates one exception class;
// translators are tried newest first, so every per-model error is registered after the
// ModelBundleError it derives from and reaches Python as its own type.
#include "bindings.hpp"
#include "velmora/errors.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// Creates the Python type `name` in the module and registers the translator of `Error`.
template <class Error>
nb::object exception_type(nb::module_ m, const char* name, nb::handle base) {
  return nb::exception<Error>(m, name, base);
}

}  // namespace

void define_exceptions(nb::module_ m) {
  exception_type<ProcessorNotImplementedError>(m, "ProcessorNotImplementedError",
                                               PyExc_NotImplementedError);
  exception_type<ProcessorRequirementsError>(m, "ProcessorRequirementsError", PyExc_ValueError);

  nb::object bundle_error =
      exception_type<ModelBundleError>(m, "ModelBundleError", PyExc_RuntimeError);
  exception_type<TokenizerModelError>(m, "TokenizerModelError", bundle_error);
  exception_type<Seq2SeqModelError>(m, "Seq2SeqModelError", bundle_error);
  exception_type<MWTModelError>(m, "MWTModelError", bundle_error);
  exception_type<POSModelError>(m, "POSModelError", bundle_error);
  exception_type<LemmaModelError>(m, "LemmaModelError", bundle_error);
  exception_type<DepparseModelError>(m, "DepparseModelError", bundle_error);
  exception_type<NERModelError>(m, "NERModelError", bundle_error);
  exception_type<SentimentModelError>(m, "SentimentModelError", bundle_error);
  exception_type<ConstituencyModelError>(m, "ConstituencyModelError", bundle_error);
  exception_type<CorefModelError>(m, "CorefModelError", bundle_error);
  exception_type<CharLMModelError>(m, "CharLMModelError", bundle_error);
  exception_type<LangIDModelError>(m, "LangIDModelError", bundle_error);
  exception_type<MorphSegModelError>(m, "MorphSegModelError", bundle_error);

  exception_type<WordPieceError>(m, "WordPieceError", PyExc_RuntimeError);
  exception_type<SubwordError>(m, "SubwordError", PyExc_RuntimeError);
  exception_type<TransformerError>(m, "TransformerError", PyExc_RuntimeError);
}

}  // namespace velmora::detail
