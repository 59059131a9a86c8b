#pragma once

// The processor table as compile-time rows, and the dispatch from a row to its class. The
// rows are the single source of every processor's name, requirements and module.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>

#include <velmora/processor.hpp>

namespace velmora::detail {

/// Processors in table order; the value is the row index.
enum class ProcessorKind : std::size_t {
  langid,
  tokenize,
  mwt,
  pos,
  lemma,
  depparse,
  ner,
  sentiment,
  constituency,
  coref,
  morphseg,
};

struct ProcessorRow {
  std::string_view name;
  /// Unused trailing slots stay empty.
  std::array<std::string_view, 3> requirements;
  std::string_view module;
};

inline constexpr std::array<ProcessorRow, 11> processor_rows{{
    {"langid", {}, "extended"},
    {"tokenize", {}, "ud"},
    {"mwt", {"tokenize"}, "ud"},
    {"pos", {"tokenize"}, "ud"},
    {"lemma", {"tokenize"}, "ud"},
    {"depparse", {"tokenize", "pos", "lemma"}, "ud"},
    {"ner", {"tokenize"}, "extended"},
    {"sentiment", {"tokenize"}, "extended"},
    {"constituency", {"tokenize", "pos"}, "extended"},
    {"coref", {"tokenize"}, "coref"},
    {"morphseg", {"tokenize"}, "extended"},
}};

/// The spec of one row, made through make_processor_spec.
ProcessorSpec processor_row_spec(ProcessorKind kind);

/// The row of an exact (byte for byte) processor name, if the table has it.
std::optional<ProcessorKind> find_processor_kind(std::string_view name);

/// Calls `visit` with std::type_identity of the processor class of `kind`.
template <class Visitor>
decltype(auto) visit_processor_class(ProcessorKind kind, Visitor&& visit) {
  switch (kind) {
    case ProcessorKind::langid: return visit(std::type_identity<LangIDProcessor>{});
    case ProcessorKind::tokenize: return visit(std::type_identity<TokenizeProcessor>{});
    case ProcessorKind::mwt: return visit(std::type_identity<MWTProcessor>{});
    case ProcessorKind::pos: return visit(std::type_identity<POSProcessor>{});
    case ProcessorKind::lemma: return visit(std::type_identity<LemmaProcessor>{});
    case ProcessorKind::depparse: return visit(std::type_identity<DepparseProcessor>{});
    case ProcessorKind::ner: return visit(std::type_identity<NERProcessor>{});
    case ProcessorKind::sentiment: return visit(std::type_identity<SentimentProcessor>{});
    case ProcessorKind::constituency: return visit(std::type_identity<ConstituencyProcessor>{});
    case ProcessorKind::coref: return visit(std::type_identity<CorefProcessor>{});
    case ProcessorKind::morphseg: return visit(std::type_identity<MorphSegProcessor>{});
  }
  __builtin_unreachable();  // every enumerator is handled above
}

}  // namespace velmora::detail
