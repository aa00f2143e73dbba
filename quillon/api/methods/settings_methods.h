#pragma once

#include "quillon/api/methods/method_table.h"

namespace quillon
{

class GeneralSettings;

// get/setApplicationSettings, get/setAutotrackingSettings, setProductConfig
// and setAutotrackingPid: the methods that read and change settings files.
void addSettingsMethods(MethodTable& table);

// Applies the children of `record` named in `params` as one change: every
// named child is validated on a copy first; only when all pass are they
// stored and published (in name order). Returns the first failing child's
// code (nothing changed), 1005 when no child is named, otherwise 0.
int applySettingsChange(GeneralSettings& record, json_object* params);

} // namespace quillon
