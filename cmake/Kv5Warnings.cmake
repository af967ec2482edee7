# Warnings for every target of the product; sanitizers come from the presets' flags.
function(kv5_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  target_include_directories(${target} PUBLIC "${KV5_SOURCE_ROOT}")
endfunction()
