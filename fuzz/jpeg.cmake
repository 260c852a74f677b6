# decode_jpeg on hostile bytes. Seeds (fuzz/seeds): textured frames in the
# layouts cameras and files use, sizes off the block grid, and two recipes of
# marker tricks (see jpeg_fuzz.cc).
set(jpeg_seed_files yuv422.jpg yuv420.jpg yuv444.jpg grey.jpg progressive.jpg recipe_baseline.bin
  recipe_progressive.bin)
list(TRANSFORM jpeg_seed_files REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/seeds/jpeg_\\1")
bridge_fuzz(jpeg_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg_fuzz.cc
  LIBS bridge_image PkgConfig::TURBOJPEG PkgConfig::LIBJPEG SEEDS ${jpeg_seed_files} ITERATIONS 100000)
# The same target on two smooth frames above a megapixel (the progressive one
# grey: colour progressive pictures decode ten times slower): each input
# decodes a thousand times more pixels, so a thousand of them (about half a
# minute under the sanitizers).
if(NOT BRIDGE_LIBFUZZER)
  add_test(NAME fuzz.jpeg_fuzz_large COMMAND jpeg_fuzz --iterations 1000
    ${CMAKE_CURRENT_LIST_DIR}/seeds/jpeg_large.jpg ${CMAKE_CURRENT_LIST_DIR}/seeds/jpeg_large_progressive.jpg)
  set_tests_properties(fuzz.jpeg_fuzz_large PROPERTIES LABELS fuzz)
endif()
