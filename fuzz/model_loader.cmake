# The runtime's loader, compiler and executor on hostile model files. Seeds
# (fuzz/seeds): two small models that together use every operator and fusion,
# recipes for the structured mode (fusable chains, one read elsewhere) and for
# a file with a hole, and the blendshape model from the shared folder when it
# is present.
set(model_seeds vision.tflite mixer.tflite fused_chain.recipe fused_then_read.recipe file_with_hole.recipe)
list(TRANSFORM model_seeds REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/seeds/model_\\1")
bridge_fuzz(model_loader_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/model_loader_fuzz.cc ${CMAKE_CURRENT_LIST_DIR}/model_loader_graph.cc
  LIBS runtime_test_models
  SEEDS ${model_seeds} ${BRIDGE_SHARED_DIR}/models/face/face_blendshapes.tflite
  ITERATIONS 5000)
