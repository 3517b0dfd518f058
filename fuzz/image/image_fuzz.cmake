# image_fuzz_target(AREA KIND SEEDS): the image fuzz entry for one fuzz folder. KIND empty
# feeds the dispatcher, else one decoder (D3DXIFF_BMP ...). SEEDS names the seed set that
# write_image_seeds writes at build time into the folder test.sh gives the fuzzer as its work
# corpus (build/fuzz/corpus-AREA); the committed corpus/ holds a few tiny seeds besides.
# With CITYDRIVE_FUZZ=ON (clang) a libFuzzer binary; otherwise a plain program replaying the
# seeds with prefixes and mutations, registered as a test.
if(NOT TARGET cd_texture)
  return()
endif()
if(NOT TARGET write_image_seeds)
  add_executable(write_image_seeds ${CMAKE_CURRENT_LIST_DIR}/write_image_seeds.cpp)
  target_link_libraries(write_image_seeds PRIVATE cd_texture_test_files)
endif()

function(image_fuzz_target area kind seeds)
  set(target ${area}_fuzzer)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/../image/image_fuzzer.cpp)
  target_link_libraries(${target} PRIVATE cd_texture)
  if(kind)
    target_compile_definitions(${target} PRIVATE IMAGE_FUZZ_KIND=${kind})
  endif()
  set(seed_dir ${CMAKE_BINARY_DIR}/corpus-${area})
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seed_dir}
    COMMAND write_image_seeds ${seed_dir} ${seeds}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp
    DEPENDS write_image_seeds
    COMMENT "Writing the ${area} fuzz seeds")
  add_custom_target(${area}_fuzz_seeds DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp)
  add_dependencies(${target} ${area}_fuzz_seeds)
  if(CITYDRIVE_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    if(TARGET citydrive_fuzzers)
      add_dependencies(citydrive_fuzzers ${target})
    endif()
  else()
    target_compile_definitions(${target} PRIVATE IMAGE_FUZZ_MAIN)
    add_test(NAME ${target}_corpus COMMAND ${target} -runs=100 ${CMAKE_CURRENT_SOURCE_DIR}/corpus ${seed_dir})
  endif()
endfunction()
