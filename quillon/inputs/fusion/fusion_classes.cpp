#include "quillon/inputs/fusion/fusion_classes.h"

#include <utility>

namespace quillon
{

FusionClassTable makeFusionClassTable()
{
    static const std::pair<const char*, double> kClasses[] = {
        {"Human", 0.3}, {"Bike", 0.3},    {"Car", 0.3},  {"Truck", 0.3},
        {"Bus", 0.3},   {"Vehicle", 0.3}, {"Face", 100}, {"LicensePlate", 100},
    };
    FusionClassTable table;
    int next = 1;
    for (const auto& [name, threshold] : kClasses)
        table.emplace(name, FusionClass{next++, name, threshold});
    return table;
}

} // namespace quillon
