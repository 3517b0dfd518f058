# image_fuzz_target(AREA KIND SEEDS): the image fuzz entry for one fuzz folder. KIND empty
# feeds the dispatcher, else one decoder (D3DXIFF_BMP ...). SEEDS names the seed set that
# write_image_seeds writes at build time into the folder test.sh gives the fuzzer as its work
# corpus (build/fuzz/corpus-AREA); the committed corpus/ holds a few tiny seeds besides.
if(NOT TARGET cd_texture)
  return()
endif()
if(NOT TARGET write_image_seeds)
  add_executable(write_image_seeds ${CMAKE_CURRENT_LIST_DIR}/write_image_seeds.cpp)
  target_link_libraries(write_image_seeds PRIVATE cd_texture_test_files)
endif()

function(image_fuzz_target area kind seeds)
  set(target ${area}_fuzzer)
  set(seed_dir ${CMAKE_BINARY_DIR}/corpus-${area})
  citydrive_fuzzer(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/../image/image_fuzzer.cpp LIBS cd_texture
    ARGS -runs=100 ${seed_dir})
  if(kind)
    target_compile_definitions(${target} PRIVATE IMAGE_FUZZ_KIND=${kind})
  endif()
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seed_dir}
    COMMAND write_image_seeds ${seed_dir} ${seeds}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp
    DEPENDS write_image_seeds
    COMMENT "Writing the ${area} fuzz seeds")
  add_custom_target(${area}_fuzz_seeds DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/seeds.stamp)
  add_dependencies(${target} ${area}_fuzz_seeds)
endfunction()
