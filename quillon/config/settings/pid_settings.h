#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// A controller record ("panPid" or "tiltPid"): "kp", "ki", "kd" and
// "signalThreshold". A change is accepted only when all four are present as
// finite, non-negative doubles; otherwise 1601 and nothing changes. The gains
// are written to files only, never into API replies.
template <typename Derived, typename T> class PidSettings : public RecordSettings<Derived, T>
{
public:
    using RecordSettings<Derived, T>::RecordSettings;

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

class PanPidSettings : public PidSettings<PanPidSettings, pan_pid_t>
{
public:
    PanPidSettings() : PidSettings("panPid") {}
};

class TiltPidSettings : public PidSettings<TiltPidSettings, tilt_pid_t>
{
public:
    TiltPidSettings() : PidSettings("tiltPid") {}
};

extern template class PidSettings<PanPidSettings, pan_pid_t>;
extern template class PidSettings<TiltPidSettings, tilt_pid_t>;

} // namespace quillon
