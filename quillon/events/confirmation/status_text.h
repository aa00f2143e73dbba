#pragma once

#include <string>

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

class AnalyzedVideoMessage;

// A box in picture coordinates (0..1, y down): corner and size.
struct PictureBox {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// The device box (y up) in the displayed picture: the corner that lands at
// the top left for rotation 0 or 180; (0, 0) for any other rotation; the
// size is halved in both.
PictureBox pictureBox(const Box& box, int rotation);

// The streamObjects text of one analysed scene: one JSON object, plain,
// doubles as "%.4g":
//   {"objects":[...],"zones":[...],"latestResult":n,"trackerEnabled":b,
//    "trackedId":n,"isMoving":true,"zoomMag":d}
// "objects" and "zones" only when not empty, "latestResult" only when not 0,
// "trackedId" only when a tracked object is listed, "isMoving" only when
// moving. Each object: "id" (when >= 0), "active":false (not in the latest
// report), "color" (debug view), "x","y","width","height", "tracking":true
// (the tracked object), "text" (debug view, a type name of 1..99
// characters). Without the debug view only confident or tracked objects are
// listed. Values that JSON cannot hold never reach the text: an object or
// zone with a non-finite coordinate is left out, a non-finite zoomMag is
// written as 0.
// Pure; any thread.
std::string statusText(const AnalyzedVideoMessage& scene, bool debugView);

// Appends `value` as the status text writes a double: json-c's form of
// "%.4g" (a whole number gets ".0").
void appendStatusDouble(std::string& out, double value);

} // namespace quillon
