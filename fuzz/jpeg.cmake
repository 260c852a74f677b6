# decode_jpeg on hostile bytes, from seeds that jpeg_seeds makes at build time
# and two recipes of marker tricks in fuzz/seeds.
add_executable(jpeg_seeds ${CMAKE_CURRENT_LIST_DIR}/jpeg_seeds.cc)
target_link_libraries(jpeg_seeds PRIVATE PkgConfig::TURBOJPEG)
target_include_directories(jpeg_seeds PRIVATE ${PROJECT_SOURCE_DIR})
set(jpeg_seed_dir ${CMAKE_CURRENT_BINARY_DIR}/jpeg_fuzz_seeds)
set(jpeg_seed_files yuv422 yuv420 yuv444 grey progressive)
set(jpeg_large_seed_files large large_progressive)
list(TRANSFORM jpeg_seed_files REPLACE "(.+)" "${jpeg_seed_dir}/\\1.jpg")
list(TRANSFORM jpeg_large_seed_files REPLACE "(.+)" "${jpeg_seed_dir}/\\1.jpg")
add_custom_command(OUTPUT ${jpeg_seed_files} ${jpeg_large_seed_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${jpeg_seed_dir}
  COMMAND jpeg_seeds ${jpeg_seed_dir}
  DEPENDS jpeg_seeds COMMENT "Making the jpeg fuzz seeds")
add_custom_target(jpeg_fuzz_seed_files DEPENDS ${jpeg_seed_files} ${jpeg_large_seed_files})
bridge_fuzz(jpeg_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg_fuzz.cc
  LIBS bridge_image PkgConfig::TURBOJPEG PkgConfig::LIBJPEG ITERATIONS 100000
  SEEDS ${jpeg_seed_files} ${CMAKE_CURRENT_LIST_DIR}/seeds/jpeg_recipe_baseline.bin
        ${CMAKE_CURRENT_LIST_DIR}/seeds/jpeg_recipe_progressive.bin)
add_dependencies(jpeg_fuzz jpeg_fuzz_seed_files)
# The same target on frames above a megapixel: each input decodes a
# thousand times more pixels, so a thousand of them (about half a minute
# under the sanitizers).
if(NOT BRIDGE_LIBFUZZER)
  add_test(NAME fuzz.jpeg_fuzz_large COMMAND jpeg_fuzz --iterations 1000 ${jpeg_large_seed_files})
  set_tests_properties(fuzz.jpeg_fuzz_large PROPERTIES LABELS fuzz)
endif()
