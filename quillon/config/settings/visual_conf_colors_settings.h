#pragma once

#include <string>
#include <vector>

#include "quillon/config/settings/general_settings.h"

namespace quillon
{

// One pair of overlay frame colours: for the tracked object and the others.
struct colors_comb {
    int id = 0;
    std::string tracked;
    std::string defaultColour; // JSON key "default"

    bool operator==(const colors_comb&) const = default;
};

// "svgFrameColours": the overlay colour combinations, the active one and
// whether other objects are highlighted. The combinations are read from files
// only, never from API requests. Unlike the other records, values are stored
// as they are read and the last error is returned (1201: "activeId" names no
// combination, the first one is selected; 1202: "highlightObjects" true with
// no combinations). publish() posts nothing: the overlay component reads the
// record directly.
class VisualConfColorsSettings : public CopyableSettings<VisualConfColorsSettings>
{
public:
    VisualConfColorsSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
    void publish() override {}

    const std::vector<colors_comb>& combinations() const { return combinations_; }
    int activeId() const { return activeId_; }
    bool highlightObjects() const { return highlightObjects_; }

private:
    std::vector<colors_comb> combinations_;
    int activeId_ = 1;
    bool highlightObjects_ = true;
};

} // namespace quillon
