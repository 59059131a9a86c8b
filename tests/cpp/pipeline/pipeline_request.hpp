#pragma once

// Building pipelines in tests: a request with the usual defaults, and the kind and message of
// whatever error building it throws.

#include <velmora/errors.hpp>
#include <velmora/pipeline.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace velmora::pipeline_test {

using Names = std::vector<std::string>;
using PackageMap = std::map<std::string, std::string>;

struct PipelineRequest {
  std::string language = "en";
  Names processors;
  std::variant<std::string, PackageMap> package = std::string("default");
  std::optional<std::filesystem::path> model_dir = std::nullopt;
  std::string resources_version = "1.14.0";
  Names language_subset = {};
};

inline Pipeline build(const PipelineRequest& request) {
  if (const auto* map = std::get_if<PackageMap>(&request.package)) {
    return Pipeline(request.language, request.processors, *map, request.model_dir,
                    request.resources_version, false, request.language_subset);
  }
  return Pipeline(request.language, request.processors, std::get<std::string>(request.package),
                  request.model_dir, request.resources_version, false, request.language_subset);
}

/// Which error a call threw, from the most to the least specific class, and its message.
struct Failure {
  std::string kind;
  std::string message;
  friend bool operator==(const Failure&, const Failure&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Failure& failure) {
    return out << failure.kind << ": " << failure.message;
  }
};

template <class Call>
Failure failure_of(Call&& call) {
  try {
    call();
  } catch (const ProcessorRequirementsError& error) {
    return {"requirements", error.what()};
  } catch (const std::invalid_argument& error) {
    return {"invalid argument", error.what()};
  } catch (const ProcessorNotImplementedError& error) {
    return {"not implemented", error.what()};
  } catch (const ModelBundleError& error) {
    return {"bundle", error.what()};
  } catch (const std::exception& error) {
    return {"other", error.what()};
  }
  return {"none", ""};
}

inline Failure build_failure(const PipelineRequest& request) {
  return failure_of([&] { build(request); });
}

}  // namespace velmora::pipeline_test
