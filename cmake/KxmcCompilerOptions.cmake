# Compiler options set in one place.
set(KXMC_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wno-unused-parameter)

if(KXMC_SANITIZE)
  set(KXMC_SANITIZER_FLAGS -fsanitize=address,undefined,float-cast-overflow
      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${KXMC_SANITIZER_FLAGS})
  add_link_options(${KXMC_SANITIZER_FLAGS})
endif()

function(kxmc_set_warnings target)
  target_compile_options(${target} PRIVATE ${KXMC_WARNING_FLAGS})
  if(KXMC_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
