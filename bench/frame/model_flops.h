#pragma once

#include <string>

// The floating-point operations of one run of the model file at `path`, from
// its declared shapes: convolutions, depthwise convolutions and fully
// connected layers, a multiply-add counting two. Everything else is memory
// traffic and ignored. 0 when the file cannot be read as a model.
double model_flops(const std::string& path);
