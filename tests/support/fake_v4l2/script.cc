#include "tests/support/fake_v4l2/script.h"

#include <linux/videodev2.h>

#include <functional>
#include <map>
#include <sstream>

namespace {

using Setter = std::function<bool(std::istringstream&, FakeDeviceScript&)>;

uint32_t fourcc(const std::string& s) {
  if (s.size() != 4) return 0;
  return v4l2_fourcc(s[0], s[1], s[2], s[3]);
}

bool read_size(const std::string& word, uint32_t& w, uint32_t& h) {
  char x = 0;
  std::istringstream in(word);
  return bool(in >> w >> x >> h) && x == 'x' && in.peek() == EOF;
}

bool read_caps(std::istringstream& in, uint32_t& caps) {
  static const std::map<std::string, uint32_t> kCaps = {{"capture", V4L2_CAP_VIDEO_CAPTURE},
                                                        {"streaming", V4L2_CAP_STREAMING},
                                                        {"meta", V4L2_CAP_META_CAPTURE}};
  caps = 0;
  for (std::string word; in >> word;) {
    const auto it = kCaps.find(word);
    if (it == kCaps.end()) return false;
    caps |= it->second;
  }
  return true;
}

template <typename T>
Setter number(T FakeDeviceScript::*field) {
  return [field](std::istringstream& in, FakeDeviceScript& d) { return bool(in >> d.*field); };
}

template <typename E>
Setter choice(E FakeDeviceScript::*field, std::map<std::string, E> names) {
  return [field, names](std::istringstream& in, FakeDeviceScript& d) {
    std::string word;
    in >> word;
    const auto it = names.find(word);
    if (it == names.end()) return false;
    d.*field = it->second;
    return true;
  };
}

Setter flag(bool FakeDeviceScript::*field) {
  return [field](std::istringstream&, FakeDeviceScript& d) { return d.*field = true; };
}

const std::map<std::string, Setter>& setters() {
  static const std::map<std::string, Setter> kSetters = {
      {"card",
       [](std::istringstream& in, FakeDeviceScript& d) {
         std::getline(in >> std::ws, d.card);
         return true;
       }},
      {"caps",
       [](std::istringstream& in, FakeDeviceScript& d) { return read_caps(in, d.device_caps); }},
      {"physical_caps",
       [](std::istringstream& in, FakeDeviceScript& d) { return read_caps(in, d.physical_caps); }},
      {"legacy_caps", flag(&FakeDeviceScript::legacy_caps)},
      {"format",
       [](std::istringstream& in, FakeDeviceScript& d) {
         std::string name;
         in >> name;
         FakeFormat f{fourcc(name), {}, false};
         for (std::string word; in >> word;) {
           uint32_t w = 0, h = 0;
           if (word == "step") {
             f.stepwise = true;
           } else if (read_size(word, w, h)) {
             f.sizes.emplace_back(w, h);
           } else {
             return false;
           }
         }
         d.formats.push_back(f);
         return f.fourcc != 0;
       }},
      {"refuse_other_formats", flag(&FakeDeviceScript::refuse_other_formats)},
      {"grant",
       [](std::istringstream& in, FakeDeviceScript& d) {
         std::string word;
         return d.grant = bool(in >> word) && read_size(word, d.grant_width, d.grant_height);
       }},
      {"buffers", number(&FakeDeviceScript::buffers)},
      {"exposure", number(&FakeDeviceScript::exposure_priority)},
      {"frames",
       [](std::istringstream& in, FakeDeviceScript& d) { return bool(in >> d.frames_dir); }},
      {"rate", number(&FakeDeviceScript::rate)},
      {"burst", number(&FakeDeviceScript::burst)},
      {"damage",
       [](std::istringstream& in, FakeDeviceScript& d) {
         return choice(&FakeDeviceScript::damage,
                       {{"corrupt", FakeDamage::kCorrupt}, {"empty", FakeDamage::kEmpty},
                        {"oversized", FakeDamage::kOversized}})(in, d) &&
                bool(in >> d.damage_every) && d.damage_every > 0;
       }},
      {"busy", choice(&FakeDeviceScript::busy, {{"open", FakeBusy::kOpen},
                                                {"reqbufs", FakeBusy::kReqbufs},
                                                {"streamon", FakeBusy::kStreamon}})},
      {"interrupt",
       [](std::istringstream& in, FakeDeviceScript& d) {
         std::string word;
         d.interrupt = true;
         d.interrupt_always = bool(in >> word);
         return !d.interrupt_always || word == "always";
       }},
      {"flood", flag(&FakeDeviceScript::flood)},
      {"stray_index",
       [](std::istringstream& in, FakeDeviceScript& d) { return bool(in >> d.stray_after) && d.stray_after > 0; }},
      {"endless", flag(&FakeDeviceScript::endless)},
      {"unplug",
       [](std::istringstream& in, FakeDeviceScript& d) {
         return bool(in >> d.unplug_after) &&
                choice(&FakeDeviceScript::unplug,
                       {{"poll", FakeUnplug::kPoll}, {"dequeue", FakeUnplug::kDequeue}})(in, d);
       }},
  };
  return kSetters;
}

}  // namespace

bool parse_script(const std::string& text, std::vector<FakeDeviceScript>& devices,
                  std::string& error) {
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    number += 1;
    line = line.substr(0, line.find('#'));
    std::istringstream in(line);
    std::string key;
    if (!(in >> key)) continue;
    if (key == "device") {
      devices.emplace_back();
      devices.back().device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
      if (in >> devices.back().path) continue;
    } else if (!devices.empty() && setters().count(key) && setters().at(key)(in, devices.back())) {
      continue;
    }
    error = "fake_v4l2: line " + std::to_string(number) + " not understood: " + line;
    return false;
  }
  for (FakeDeviceScript& d : devices) {
    if (d.physical_caps == 0) d.physical_caps = d.device_caps;
  }
  return true;
}
