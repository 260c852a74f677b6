# The runtime's loader, compiler and executor on hostile model files. Seeds:
# two generated models that use every operator, a recipe for the structured
# mode (small graphs with fusable chains and hostile outputs), and the small
# blendshape model from the shared folder when it is present.
add_executable(model_loader_seeds ${CMAKE_CURRENT_LIST_DIR}/model_loader_seeds.cc
  ${CMAKE_CURRENT_LIST_DIR}/model_loader_graph.cc)
target_link_libraries(model_loader_seeds PRIVATE runtime_test_models)

set(model_seeds ${CMAKE_CURRENT_BINARY_DIR}/model_loader_fuzz_seeds)
add_custom_command(OUTPUT ${model_seeds}/vision.tflite ${model_seeds}/mixer.tflite ${model_seeds}/fused_chain.recipe ${model_seeds}/fused_then_read.recipe ${model_seeds}/file_with_hole.recipe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${model_seeds}
  COMMAND model_loader_seeds ${model_seeds}
  DEPENDS model_loader_seeds)
add_custom_target(model_loader_seed_files
  DEPENDS ${model_seeds}/vision.tflite ${model_seeds}/mixer.tflite ${model_seeds}/fused_chain.recipe ${model_seeds}/fused_then_read.recipe ${model_seeds}/file_with_hole.recipe)

bridge_fuzz(model_loader_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/model_loader_fuzz.cc ${CMAKE_CURRENT_LIST_DIR}/model_loader_graph.cc
  LIBS runtime_test_models
  SEEDS ${model_seeds}/vision.tflite ${model_seeds}/mixer.tflite ${model_seeds}/fused_chain.recipe ${model_seeds}/fused_then_read.recipe ${model_seeds}/file_with_hole.recipe
        ${BRIDGE_SHARED_DIR}/models/face/face_blendshapes.tflite
  ITERATIONS 5000)
add_dependencies(model_loader_fuzz model_loader_seed_files)
