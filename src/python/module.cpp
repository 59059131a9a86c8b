// Defines the _velmora extension module: a multi-phase module definition whose execution
// step runs the module body under a guard that turns every failure into an ImportError.
#include <Python.h>

#include <nanobind/nanobind.h>

#include "bindings.hpp"

namespace nb = nanobind;

namespace velmora::detail {

// The registration order is part of the module's interface: classes that others refer to
// come first, and each family lives in its own file.
void define_module(nb::module_ m) {
  define_attributes(m);
  define_exceptions(m);
  // Standalone models come first among the classes: the bundle and its descriptors, the
  // model plans, the subword tokenizers, then the transformer encoder that uses them.
  define_standalone_bundle(m);
  define_standalone_plans(m);
  define_standalone_tokenizers(m);
  define_standalone_transformer(m);
  define_values(m);
  define_documents(m);
  define_sequences(m);
  define_processors(m);
  define_pipeline(m);
  define_functions(m);
}

int module_exec(PyObject* module) {
#if PY_VERSION_HEX < 0x030C0000
  // The module's types and exception translators belong to the whole process, so it works in
  // one interpreter only. From 3.12 the slot below makes the interpreter refuse any other;
  // before, the module refuses by itself, ahead of registering anything a second time.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "_velmora can only be imported in the main interpreter");
    return -1;
  }
#endif
  nb::detail::nb_module_exec(NB_DOMAIN_STR, module);
  try {
    define_module(nb::borrow<nb::module_>(module));
    return 0;
  } catch (nb::python_error& e) {
    e.restore();
    nb::chain_error(PyExc_ImportError, "Encountered an error while initializing the extension.");
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_ImportError, e.what());
  } catch (...) {
    // A failed import must never let a foreign exception unwind into the interpreter.
    PyErr_SetString(PyExc_ImportError, "unknown error while initializing the extension");
  }
  return -1;
}

// The release hook runs for every module object made from the definition, also for one whose
// execution step refused it; only a module that set up the binding layer may release a share.
void module_free(void* module) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) return;
#endif
  nb::detail::nb_module_free(module);
}

}  // namespace velmora::detail

namespace {

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&velmora::detail::module_exec)},
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_velmora", nullptr, 0, nullptr, module_slots, nullptr, nullptr,
    velmora::detail::module_free,
};

}  // namespace

extern "C" NB_EXPORT PyObject* PyInit__velmora() { return PyModuleDef_Init(&module_definition); }
