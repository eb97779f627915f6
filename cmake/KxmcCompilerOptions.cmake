# Compiler options set in one place.
set(KXMC_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wno-unused-parameter)

if(KXMC_SANITIZE)
  set(KXMC_SANITIZER_FLAGS -fsanitize=address,undefined,float-cast-overflow
      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${KXMC_SANITIZER_FLAGS})
  add_link_options(${KXMC_SANITIZER_FLAGS})
endif()

# Fuzzing (clang): coverage instrumentation for libFuzzer on everything, AddressSanitizer and
# UndefinedBehaviorSanitizer with every report fatal; the harnesses add libFuzzer's driver.
if(KXMC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KXMC_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14)")
  endif()
  set(KXMC_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow
      -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_compile_options(${KXMC_FUZZ_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

function(kxmc_set_warnings target)
  target_compile_options(${target} PRIVATE ${KXMC_WARNING_FLAGS})
  if(KXMC_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
