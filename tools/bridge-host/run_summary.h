#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/header.h"

// What a run of the bridge amounted to, gathered from the datagrams the host
// received. Malformed datagrams count for nothing.
struct RunSummary {
  uint64_t frames = 0;       // face datagrams
  uint64_t faces_found = 0;  // of those, the ones with a face
  uint64_t hand_frames = 0;  // hands datagrams
  uint64_t hands = 0;        // hands in all of them
  // "inference_ms" of each running status whose window had frames (fps > 0).
  std::vector<double> inference_ms;
};

void add_to_summary(RunSummary& summary, const wire::Bytes& datagram);

// {"summary":{"frames":N,"faces_found":M,"hand_frames":F,"hands":H,
// "median_inference_ms":X}}, X null when no running status had frames.
std::string summary_json(const RunSummary& summary);

// The JSON document of a well-formed "running" status datagram.
std::optional<std::string> running_document(const wire::Bytes& datagram);
// A finite number among the document's top-level members.
std::optional<double> number_member(const std::string& document, const std::string& key);
// The middle value, or the mean of the two middle values of an even count;
// `values` must not be empty.
double median(std::vector<double> values);
