#pragma once

#include <string>

// The shortest decimal text that reads back to exactly `v`; "null" for NaN
// and the infinities, which JSON cannot carry.
std::string json_number(float v);
