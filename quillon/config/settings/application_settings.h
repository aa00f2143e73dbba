#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// The service version written into "application.conf".
inline constexpr const char* kApplicationVersion = "2.6.39+maint+1";

// "applicationSettings", the content of "application.conf":
// {"service": {"active": bool, "version": string}}. A change needs the object
// "service" with the bool "active"; otherwise 1005 and nothing changes.
class ApplicationSettings : public RecordSettings<ApplicationSettings, application_settings_t>
{
public:
    ApplicationSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;

    bool active() const { return value_.active; }
};

} // namespace quillon
