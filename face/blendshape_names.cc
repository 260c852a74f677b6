#include "face/face_tracker.h"

// The meaning and order of the coefficients in FaceResult and in the face
// datagram. Hosts map them by position, so the order never changes.
const char* const FaceTracker::kBlendshapeNames[kBlendshapeCount] = {
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
