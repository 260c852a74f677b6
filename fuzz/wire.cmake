# The host-facing parsers: control datagrams and the command line.
bridge_fuzz(control_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_fuzz.cc
  LIBS bridge_wire
  SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/control_options.bin
  ITERATIONS 200000)

bridge_fuzz(command_line_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_line_fuzz.cc
  LIBS bridge_app
  SEEDS ${CMAKE_CURRENT_LIST_DIR}/seeds/command_line.args
  ITERATIONS 100000)
