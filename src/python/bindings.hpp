#pragma once

// One registration function per family of bindings, called by the module body in order.

#include <nanobind/nanobind.h>

namespace velmora::detail {

void define_attributes(nanobind::module_ m);
void define_exceptions(nanobind::module_ m);
void define_standalone_bundle(nanobind::module_ m);
void define_standalone_plans(nanobind::module_ m);
void define_standalone_tokenizers(nanobind::module_ m);
void define_standalone_transformer(nanobind::module_ m);
void define_values(nanobind::module_ m);
void define_documents(nanobind::module_ m);
void define_sequences(nanobind::module_ m);
void define_processors(nanobind::module_ m);
void define_pipeline(nanobind::module_ m);
void define_functions(nanobind::module_ m);

}  // namespace velmora::detail
