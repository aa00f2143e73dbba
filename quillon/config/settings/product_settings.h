#pragma once

#include <memory>

#include "quillon/config/settings/general_settings.h"
#include "quillon/config/settings/pid_settings.h"
#include "quillon/config/settings/vc_size_filter_setting.h"

namespace quillon
{

// "productSettings", the content of "product.conf": the pan and tilt
// controller gains and the overlay size filter. Copies share the children.
class ProductSettings : public CopyableSettings<ProductSettings>
{
public:
    ProductSettings();

    void publish() override;

    const std::shared_ptr<PanPidSettings>& panPid() const { return panPid_; }
    const std::shared_ptr<TiltPidSettings>& tiltPid() const { return tiltPid_; }
    const std::shared_ptr<VcSizeFilterSetting>& vcSizeFilter() const { return vcSizeFilter_; }

private:
    std::shared_ptr<PanPidSettings> panPid_;
    std::shared_ptr<TiltPidSettings> tiltPid_;
    std::shared_ptr<VcSizeFilterSetting> vcSizeFilter_;
};

} // namespace quillon
