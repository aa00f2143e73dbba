#include "quillon/tracking/strategies/vod_class_merge.h"

#include <algorithm>

#include "quillon/core/log.h"

namespace quillon
{

VodClassMap mergeVodClasses(const VodClassMap& model, const std::vector<VodObjectType>& settings)
{
    quillonLog(LOG_INFO, "VOD types model: %zu\n", model.size());
    quillonLog(LOG_INFO, "VOD types settings: %zu\n", settings.size());
    VodClassMap merged;
    for (const auto& [id, detected] : model) {
        auto setting = std::find_if(settings.begin(), settings.end(),
                                    [id = id](const VodObjectType& s) { return s.id == id; });
        if (setting == settings.end()) {
            quillonLog(LOG_INFO, "VOD class %d:%s not found in settings\n", id,
                       detected.name.c_str());
            continue;
        }
        if (setting->name != detected.name) {
            quillonLog(LOG_INFO, "VOD class name unexpected %d:%s != %d:%s\n", id,
                       detected.name.c_str(), setting->id, setting->name.c_str());
            continue;
        }
        VodObjectType type = *setting;
        if (type.threshold < 0)
            type.threshold = detected.threshold;
        quillonLog(LOG_INFO, "Merged %s\n", describe(type).c_str());
        merged.emplace(id, type);
    }
    if (settings.size() != merged.size())
        quillonLog(LOG_INFO, "VOD classes in settings: %zu result %zu\n", settings.size(),
                   merged.size());
    if (model.size() != merged.size())
        quillonLog(LOG_INFO, "VOD classes in model: %zu result %zu\n", model.size(), merged.size());
    return merged;
}

} // namespace quillon
