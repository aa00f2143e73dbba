#pragma once

#include "quillon/api/methods/method_table.h"

namespace quillon
{

// The runtime methods: tracking target, automatic triggering, event state,
// viewport, temporary zone and the supported API versions. They keep the API
// state and the picture format and post their commands on the bus.
void addCommandMethods(MethodTable& table);

} // namespace quillon
