"""Annotates text with Velmora and prints the result."""

import _velmora

print(f"_velmora {_velmora.__version__} (native {_velmora.native_version()}), "
      f"free-threaded build: {_velmora.free_threaded_build}")
