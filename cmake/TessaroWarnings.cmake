# Our own code builds warning-free at -Wall -Wextra -Wpedantic.
function(tessaro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
