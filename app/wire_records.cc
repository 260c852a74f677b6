#include "app/wire_records.h"

wire::Face face_record(const FaceResult& result) {
  wire::Face face;
  face.found = result.found ? 1 : 0;
  face.translation = result.pose.translation;
  face.rotation = result.pose.rotation;
  face.blendshapes = result.blendshapes;
  return face;
}

wire::Hand hand_record(const HandResult& result) {
  wire::Hand hand;
  hand.handedness = result.handedness ? 1 : 0;
  hand.handedness_score = result.handedness_score;
  hand.center_x = result.center_x;
  hand.center_y = result.center_y;
  hand.scale = result.scale;
  for (int i = 0; i < kHandLandmarkCount; ++i) {
    hand.landmarks[3 * i] = result.world_landmarks[i].x;
    hand.landmarks[3 * i + 1] = result.world_landmarks[i].y;
    hand.landmarks[3 * i + 2] = result.world_landmarks[i].z;
  }
  return hand;
}
