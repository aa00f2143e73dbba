#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_engine.h"
#include "scenario.h"

namespace camsim::feeds
{

using Bytes = std::vector<std::uint8_t>;

// Serialised VOD.Scene of a frame (timestamp: capture time in ns).
Bytes encodeVodScene(const Frame& frame);
// Serialised VOD.DetectorInformation: the built-in detector classes with
// their calibrations, or the given list.
Bytes encodeDetectorInformation(unsigned channel);
Bytes encodeDetectorInformation(unsigned channel, const std::vector<DetectorClassSpec>& classes);
// The built-in classes, two calibration points each (the better F1 gives the
// class threshold).
std::vector<DetectorClassSpec> defaultDetectorClasses();

// Scene-feed options (bits of the subscription).
constexpr unsigned kSceneVelocity = 0x1;
constexpr unsigned kSceneBox = 0x2;
constexpr unsigned kSceneLowConfident = 0x4;
// Length word (big-endian, counting itself) followed by the serialised
// Scene.Scene, with the parts the options ask for.
Bytes encodeFramedScene(const Frame& frame, unsigned options);

// JSON payload of the analytics scene description: boxes as fractions of the
// displayed picture, y downward.
std::string encodeAnalytics(const Frame& frame);

} // namespace camsim::feeds
