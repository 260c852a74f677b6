# The decoders hosts use on what the bridge sends, and the reference host's
# JSON line, from seeds that host_decode_seeds makes at build time.
add_executable(host_decode_seeds ${CMAKE_CURRENT_LIST_DIR}/host_decode_seeds.cc)
target_link_libraries(host_decode_seeds PRIVATE bridge_wire)
set(host_seed_dir ${CMAKE_CURRENT_BINARY_DIR}/host_decode_fuzz_seeds)
set(host_seed_files face hands0 hands2 status)
list(TRANSFORM host_seed_files REPLACE "(.+)" "${host_seed_dir}/\\1.bin")
add_custom_command(OUTPUT ${host_seed_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${host_seed_dir}
  COMMAND host_decode_seeds ${host_seed_dir}
  DEPENDS host_decode_seeds COMMENT "Making the host decoding fuzz seeds")
add_custom_target(host_decode_fuzz_seed_files DEPENDS ${host_seed_files})
bridge_fuzz(host_decode_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_decode_fuzz.cc
  LIBS bridge_host_session SEEDS ${host_seed_files} ITERATIONS 100000)
add_dependencies(host_decode_fuzz host_decode_fuzz_seed_files)
