# The decoders hosts use on what the bridge sends, and the reference host's
# JSON line. Seeds: well-formed face, hands and status datagrams, so that
# mutation reaches the decoders' inner checks and not only the header's.
set(host_seed_files host_face host_hands0 host_hands2 host_status)
list(TRANSFORM host_seed_files REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/seeds/\\1.bin")
bridge_fuzz(host_decode_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_decode_fuzz.cc
  LIBS bridge_host_session SEEDS ${host_seed_files} ITERATIONS 100000)
