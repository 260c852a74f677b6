#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"

// Test images are made here rather than stored in the repository.

// A deterministic textured RGB image (gradients plus seeded noise).
Image textured_image(int width, int height, uint32_t seed = 1);

// `image` compressed by libjpeg-turbo as a baseline JPEG.
std::vector<uint8_t> compress_jpeg(const Image& image, int subsampling, int quality);

// Overwrites the frame size in the baseline SOF marker of `jpeg`.
void patch_jpeg_size(std::vector<uint8_t>& jpeg, int width, int height);
