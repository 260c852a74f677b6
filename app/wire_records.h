#pragma once

#include "face/face_tracker.h"
#include "hand/hand_tracker.h"
#include "wire/face.h"
#include "wire/hands.h"

// The trackers' results as the datagrams carry them (the image landmarks of
// a hand stay behind: the host gets its centred 3-D landmarks).
wire::Face face_record(const FaceResult& result);
wire::Hand hand_record(const HandResult& result);
