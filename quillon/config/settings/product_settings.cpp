#include "quillon/config/settings/product_settings.h"

namespace quillon
{

ProductSettings::ProductSettings()
    : CopyableSettings("productSettings"), panPid_(std::make_shared<PanPidSettings>()),
      tiltPid_(std::make_shared<TiltPidSettings>()),
      vcSizeFilter_(std::make_shared<VcSizeFilterSetting>())
{
    addChild(panPid_);
    addChild(tiltPid_);
    addChild(vcSizeFilter_);
}

void ProductSettings::publish()
{
    vcSizeFilter_->publish();
    panPid_->publish();
    tiltPid_->publish();
}

} // namespace quillon
