#include "quillon/api/methods/method_table.h"

namespace quillon
{

void MethodTable::add(const std::string& name, int minLevel, MethodHandler handler)
{
    methods_[name] = MethodEntry{std::move(handler), minLevel};
}

const MethodEntry* MethodTable::find(const std::string& name) const
{
    auto found = methods_.find(name);
    return found == methods_.end() ? nullptr : &found->second;
}

} // namespace quillon
