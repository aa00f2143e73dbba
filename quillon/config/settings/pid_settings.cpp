#include "quillon/config/settings/pid_settings.h"

namespace quillon
{

namespace
{

constexpr int kPidRefused = 1601;

bool readGain(json_object* object, const char* key, double& out)
{
    auto value = json::doubleMember(object, key);
    if (!value || !std::isfinite(*value) || *value < 0.0)
        return false;
    out = *value;
    return true;
}

} // namespace

template <typename Derived, typename T>
int PidSettings<Derived, T>::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, this->name().c_str());
    T candidate;
    if (object == nullptr || !readGain(object, "kp", candidate.kp) ||
        !readGain(object, "ki", candidate.ki) || !readGain(object, "kd", candidate.kd) ||
        !readGain(object, "signalThreshold", candidate.signalThreshold))
        return kPidRefused;
    this->value_ = candidate;
    return 0;
}

template <typename Derived, typename T>
int PidSettings<Derived, T>::toJson(json_object* parent, int target)
{
    json_object* object = json_object_new_object();
    if (target == kToFile) {
        const T& gains = this->value_;
        json_object_object_add(object, "kp", json_object_new_double(gains.kp));
        json_object_object_add(object, "ki", json_object_new_double(gains.ki));
        json_object_object_add(object, "kd", json_object_new_double(gains.kd));
        json_object_object_add(object, "signalThreshold",
                               json_object_new_double(gains.signalThreshold));
    }
    json_object_object_add(parent, this->name().c_str(), object);
    return 0;
}

template class PidSettings<PanPidSettings, pan_pid_t>;
template class PidSettings<TiltPidSettings, tilt_pid_t>;

} // namespace quillon
