# Compiler flags shared by every target of the project.
add_library(velmora_flags INTERFACE)
target_compile_options(velmora_flags INTERFACE -Wall -Wextra -Wpedantic -Wno-unused-parameter)

if(VELMORA_SANITIZE)
  set(_velmora_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(velmora_flags INTERFACE ${_velmora_san})
  target_link_options(velmora_flags INTERFACE ${_velmora_san})
endif()
