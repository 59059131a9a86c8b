// The model bundle as Python sees it on its own: the opened bundle's identity, its tensor
// table, and each tensor's descriptor handed out by reference into the bundle.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>

#include <filesystem>

#include "bindings.hpp"
#include "sequence_caster.hpp"
#include "velmora/model_bundle.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// A value that only bundles hand out: Python cannot build one.
void define_tensor_descriptor(nb::module_ m) {
  nb::class_<TensorDescriptor>(m, "TensorDescriptor")
      .def_ro("name", &TensorDescriptor::name)
      .def_ro("dtype", &TensorDescriptor::dtype)
      .def_ro("shape", &TensorDescriptor::shape)
      .def_ro("offset", &TensorDescriptor::offset)
      .def_ro("nbytes", &TensorDescriptor::nbytes)
      .def_ro("sha256", &TensorDescriptor::sha256);
}

void define_model_bundle(nb::module_ m) {
  nb::class_<ModelBundle>(m, "ModelBundle")
      .def(nb::init<std::filesystem::path, bool>(), nb::arg("path"),
           nb::arg("verify_checksums") = true)
      .def_prop_ro("path", &ModelBundle::path)
      .def_prop_ro("language", &ModelBundle::language)
      .def_prop_ro("processor", &ModelBundle::processor)
      .def_prop_ro("package", &ModelBundle::package)
      .def_prop_ro("dorvek_version", &ModelBundle::dorvek_version)
      .def_prop_ro("resources_version", &ModelBundle::resources_version)
      .def_prop_ro("checksums_verified", &ModelBundle::checksums_verified)
      .def_prop_ro("tensor_file_size", &ModelBundle::tensor_file_size)
      .def_prop_ro("tensor_names", &ModelBundle::tensor_names)
      // The descriptor lives in the bundle's table; the Python object keeps the bundle alive.
      .def("tensor", &ModelBundle::tensor, nb::rv_policy::reference_internal);
}

}  // namespace

void define_standalone_bundle(nb::module_ m) {
  define_tensor_descriptor(m);
  define_model_bundle(m);
}

}  // namespace velmora::detail
