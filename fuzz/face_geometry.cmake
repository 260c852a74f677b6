bridge_fuzz(face_geometry_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/face_geometry_fuzz.cc
  LIBS bridge_face
  SEEDS ${BRIDGE_SHARED_DIR}/models/face/geometry_pipeline_metadata_landmarks.binarypb
  ITERATIONS 60000)
