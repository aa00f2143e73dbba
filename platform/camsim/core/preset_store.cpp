#include "preset_store.h"

namespace camsim
{

bool PresetStore::set(const Preset& preset)
{
    if (preset.number == 0)
        return false;
    auto it = presets_.find(preset.number);
    bool existed = it != presets_.end();
    presets_[preset.number] = preset;
    notify(existed ? Change::Changed : Change::Added, preset);
    return true;
}

bool PresetStore::remove(std::uint32_t number)
{
    auto it = presets_.find(number);
    if (it == presets_.end())
        return false;
    Preset gone = it->second;
    presets_.erase(it);
    notify(Change::Removed, gone);
    return true;
}

const Preset* PresetStore::find(std::uint32_t number) const
{
    auto it = presets_.find(number);
    return it == presets_.end() ? nullptr : &it->second;
}

std::vector<Preset> PresetStore::list() const
{
    std::vector<Preset> out;
    out.reserve(presets_.size());
    for (auto& [n, p] : presets_)
        out.push_back(p);
    return out;
}

int PresetStore::addListener(Listener listener)
{
    int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void PresetStore::removeListener(int id)
{
    listeners_.erase(id);
}

void PresetStore::notify(Change change, const Preset& preset)
{
    auto copy = listeners_;
    for (auto& [id, l] : copy)
        l(change, preset);
}

} // namespace camsim
