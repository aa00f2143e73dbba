#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace camsim
{

struct Preset {
    std::uint32_t number = 0;
    std::string name;
    double pan = 0.0;
    double tilt = 0.0;
    double zoom = 1.0;
};

// The presets of the PTZ channel, kept in number order. Listeners hear of every
// change (the D-Bus service turns them into PresetAdded/Removed/Changed).
class PresetStore
{
public:
    enum class Change { Added, Removed, Changed };
    using Listener = std::function<void(Change, const Preset&)>;

    // Adds a preset or, when the number exists, replaces its name and pose
    // (reported as Changed). Number 0 is refused (false).
    bool set(const Preset& preset);
    bool remove(std::uint32_t number);
    const Preset* find(std::uint32_t number) const;
    std::vector<Preset> list() const;

    // Speed of goto-preset moves, a fraction (0, 1] of the maximum speeds.
    double gotoSpeed() const { return gotoSpeed_; }
    void setGotoSpeed(double speed) { gotoSpeed_ = speed; }

    int addListener(Listener listener);
    void removeListener(int id);

private:
    void notify(Change change, const Preset& preset);

    std::map<std::uint32_t, Preset> presets_;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
    double gotoSpeed_ = 0.5;
};

} // namespace camsim
