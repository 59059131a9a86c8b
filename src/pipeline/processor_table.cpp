// The processor table, and processors made by name without a model.

#include "pipeline/processor_table.hpp"

#include <stdexcept>
#include <utility>

namespace velmora {
namespace detail {

ProcessorSpec make_processor_spec(std::string name, std::vector<std::string> requirements,
                                  std::string module) {
  ProcessorSpec spec;
  spec.provides.push_back(name);
  spec.name = std::move(name);
  spec.requirements = std::move(requirements);
  spec.module = std::move(module);
  return spec;
}

ProcessorSpec processor_row_spec(ProcessorKind kind) {
  const ProcessorRow& row = processor_rows[static_cast<std::size_t>(kind)];
  std::vector<std::string> requirements;
  for (std::string_view requirement : row.requirements) {
    if (!requirement.empty()) requirements.emplace_back(requirement);
  }
  return make_processor_spec(std::string(row.name), std::move(requirements),
                             std::string(row.module));
}

std::optional<ProcessorKind> find_processor_kind(std::string_view name) {
  for (std::size_t index = 0; index < processor_rows.size(); ++index) {
    if (processor_rows[index].name == name) return static_cast<ProcessorKind>(index);
  }
  return std::nullopt;
}

}  // namespace detail

std::vector<ProcessorSpec> processor_specs() {
  std::vector<ProcessorSpec> specs;
  specs.reserve(detail::processor_rows.size());
  for (std::size_t index = 0; index < detail::processor_rows.size(); ++index) {
    specs.push_back(detail::processor_row_spec(static_cast<detail::ProcessorKind>(index)));
  }
  return specs;
}

std::shared_ptr<Processor> make_processor(const std::string& name) {
  const std::optional<detail::ProcessorKind> kind = detail::find_processor_kind(name);
  if (!kind) throw std::invalid_argument("unknown processor: '" + name + "'");
  return detail::visit_processor_class(*kind, [](auto type) -> std::shared_ptr<Processor> {
    return std::make_shared<typename decltype(type)::type>();
  });
}

}  // namespace velmora
