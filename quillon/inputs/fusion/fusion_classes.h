#pragma once

#include <map>
#include <string>

namespace quillon
{

// One object class of the analytics topic.
struct FusionClass {
    int id = 0;
    std::string name;
    double threshold = 0.0; // score in [0, 1] at which an object is confident
};

// Class name -> class; ids from 1 in insertion order.
using FusionClassTable = std::map<std::string, FusionClass>;

// The eight classes the analytics topic reports: Human, Bike, Car, Truck,
// Bus, Vehicle (threshold 0.3), Face and LicensePlate (100: never confident).
FusionClassTable makeFusionClassTable();

} // namespace quillon
