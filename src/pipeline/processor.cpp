// The processor base class: identity, and the behaviour of a stage without a model.

#include <velmora/document.hpp>
#include <velmora/errors.hpp>
#include <velmora/processor.hpp>

#include <utility>

namespace velmora {

Processor::Processor(ProcessorSpec spec)
    : name_(std::move(spec.name)),
      requirements_(std::move(spec.requirements)),
      provides_(std::move(spec.provides)),
      module_(std::move(spec.module)) {}

Processor::~Processor() = default;

bool Processor::implemented() const { return false; }

Document Processor::process(Document) const {
  throw ProcessorNotImplementedError("the '" + name_ +
                                     "' processor is registered but native inference is not "
                                     "implemented");
}

std::vector<Document> Processor::process_bulk(std::vector<Document> documents) const {
  for (Document& document : documents) document = process(std::move(document));
  return documents;
}

void Processor::set_requirements(std::vector<std::string> requirements) {
  requirements_ = std::move(requirements);
}

void Processor::throw_no_model() const {
  throw ProcessorNotImplementedError("the '" + name_ + "' processor has no loaded model bundle");
}

}  // namespace velmora
