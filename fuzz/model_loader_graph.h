#pragma once

// The model loader fuzz target's structured mode: bytes read as a recipe for
// a small graph, so that mutations explore graph structure (chains the
// compiler fuses into a convolution, outputs that are constants, inputs or
// tensors written before) rather than flatbuffer encoding.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace model_loader_fuzz {

// Inputs starting with this byte are recipes; all others are model files.
constexpr uint8_t kRecipe = 'G';

// The model file a recipe describes (the bytes after kRecipe).
std::vector<uint8_t> graph_from_recipe(const uint8_t* data, size_t size);

}  // namespace model_loader_fuzz
