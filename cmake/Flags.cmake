# Warnings as errors everywhere; sanitizer and fuzzer instrumentation by option.
add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
                    -Wcast-align -Wnull-dereference -Wimplicit-fallthrough)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false positives for these in optimised std:: code.
  add_compile_options(-Wno-stringop-overflow -Wno-array-bounds -Wno-null-dereference -Wno-restrict)
endif()

if(VELLUM_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
endif()

if(VELLUM_SANITIZE OR VELLUM_FUZZ)
  # GCC's "undefined" leaves out float-cast-overflow (clang's includes it): a double out of
  # an integer's range is a conversion hostile input can reach.
  set(sanitizers address,undefined,float-cast-overflow)
  add_compile_options(-fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${sanitizers})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # With the sanitizers' instrumentation GCC 12 reports uninitialised reads inside
    # std::regex and std::function that are not there.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(VELLUM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELLUM_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  # Instrument everything for coverage; the fuzz targets add -fsanitize=fuzzer at link time.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Give a library hidden symbols: only what it marks for export leaves the shared object.
function(vellum_hide_symbols target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
