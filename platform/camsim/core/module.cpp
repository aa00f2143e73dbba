#include "module.h"

#include <algorithm>

namespace camsim
{

namespace
{

std::vector<ModuleRegistration>& registry()
{
    static std::vector<ModuleRegistration> list;
    return list;
}

} // namespace

bool registerModule(const char* name, int order, ModuleFactory factory)
{
    registry().push_back(ModuleRegistration{name, order, factory});
    return true;
}

std::vector<ModuleRegistration> registeredModules()
{
    auto list = registry();
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a.order != b.order ? a.order < b.order : a.name < b.name;
    });
    return list;
}

} // namespace camsim
