import _velmora


def test_module_identity():
    assert _velmora.__version__ == "0.1.0"
    assert _velmora.native_version() == "0.1.0"
    assert _velmora.__doc__ == "Native components of Velmora."


def test_free_threaded_build_reports_the_interpreter_it_was_built_for():
    import sysconfig

    assert _velmora.free_threaded_build is bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
