#include "quillon/api/methods/command_methods.h"
#include "quillon/api/methods/json_api.h"
#include "quillon/api/methods/profile_methods.h"
#include "quillon/api/methods/settings_methods.h"

namespace quillon
{

void addApiMethods(MethodTable& table)
{
    addSettingsMethods(table);
    addCommandMethods(table);
    addProfileMethods(table);
}

} // namespace quillon
