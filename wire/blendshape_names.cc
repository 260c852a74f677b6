#include "wire/blendshape_names.h"

namespace wire {

const char* const kBlendshapeNames[kFaceBlendshapeCount] = {
    "browDownLeft",       "browDownRight",       "browInnerUp",       "browOuterUpLeft",
    "browOuterUpRight",   "cheekPuff",           "cheekSquintLeft",   "cheekSquintRight",
    "eyeBlinkLeft",       "eyeBlinkRight",       "eyeLookDownLeft",   "eyeLookDownRight",
    "eyeLookInLeft",      "eyeLookInRight",      "eyeLookOutLeft",    "eyeLookOutRight",
    "eyeLookUpLeft",      "eyeLookUpRight",      "eyeSquintLeft",     "eyeSquintRight",
    "eyeWideLeft",        "eyeWideRight",        "jawForward",        "jawLeft",
    "jawOpen",            "jawRight",            "mouthClose",        "mouthDimpleLeft",
    "mouthDimpleRight",   "mouthFrownLeft",      "mouthFrownRight",   "mouthFunnel",
    "mouthLeft",          "mouthLowerDownLeft",  "mouthLowerDownRight", "mouthPressLeft",
    "mouthPressRight",    "mouthPucker",         "mouthRight",        "mouthRollLower",
    "mouthRollUpper",     "mouthShrugLower",     "mouthShrugUpper",   "mouthSmileLeft",
    "mouthSmileRight",    "mouthStretchLeft",    "mouthStretchRight", "mouthUpperUpLeft",
    "mouthUpperUpRight",  "noseSneerLeft",       "noseSneerRight",
};

}  // namespace wire
