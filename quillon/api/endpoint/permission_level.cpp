#include "quillon/api/endpoint/permission_level.h"

namespace quillon
{

int permissionLevel(std::string_view scriptName)
{
    struct Rule {
        std::string_view suffix;
        int level;
    };
    static constexpr Rule rules[] = {
        {"operator.cgi", 1},
        {"operator.fcgi", 1},
        {"admin.cgi", 2},
        {"settings.fcgi", 2},
    };
    for (const auto& rule : rules) {
        if (scriptName.ends_with(rule.suffix))
            return rule.level;
    }
    return 0;
}

} // namespace quillon
