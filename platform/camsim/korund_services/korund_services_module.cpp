// The camera services the VISCA bridge talks to: PTZ coordinator with its
// legacy driver settings, image control, device information, network and
// LED settings. See README.md.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "call_log.h"
#include "camsim/core/module.h"
#include "property_object.h"
#include "ptz_coordinator.h"

namespace camsim::korund
{

namespace
{

const char* const kLegacy = "com.zeto.Configuration.Legacy";
const char* const kStream = "com.zeto.ImageControlStream";

GVariant* bytes(const char* text)
{
    return g_variant_new_bytestring(text);
}

class KorundServicesModule : public Module
{
public:
    void addOptions(Options& o) override
    {
        o.addFlag("korund-no-image-control", "Do not serve com.zeto.ImageControl", &noImage_);
        o.addString("korund-prod-nbr", "Product number served as ProdNbr (default Z1201)",
                    &prodNbr_);
        o.addString("korund-capture-frequency", "Mains frequency, 50Hz or 60Hz (default 50Hz)",
                    &captureFrequency_);
    }

    void start(Context& ctx) override
    {
        coordinator_ = std::make_unique<PtzCoordinator>(ctx, log_);

        auto driver =
            object("com.zeto.PTZ.Coordinator", "/com/zeto/PTZ/Coordinator/1/LegacyConfig/Driver");
        driver->add(kLegacy, "VariousAutoFocus", g_variant_new_boolean(TRUE));
        driver->add(kLegacy, "VariousBackLight", g_variant_new_boolean(FALSE));
        driver->add(kLegacy, "LimitMinFocus", g_variant_new_int32(1));
        driver->add(kLegacy, "LimitMinPan", g_variant_new_int32(-180));
        driver->add(kLegacy, "LimitMaxPan", g_variant_new_int32(180));
        driver->add(kLegacy, "LimitMinTilt", g_variant_new_int32(-90));
        driver->add(kLegacy, "LimitMaxTilt", g_variant_new_int32(20));

        if (!noImage_) {
            auto image = object("com.zeto.ImageControl", "/com/zeto/ImageControl/0/0");
            image->add(kLegacy, "IrCutFilter", bytes("auto"));
            image->add(kLegacy, "AutoIrCutFilterHysteresis", g_variant_new_int32(50));
            image->add(kLegacy, "FocusManualMode", bytes("manual"));
            image->add(kLegacy, "WhiteBalance", bytes("auto"));
            image->add(kLegacy, "RedBalance", g_variant_new_int32(50));
            image->add(kLegacy, "BlueBalance", g_variant_new_int32(50));
            image->add(kLegacy, "ManualShutterControl", bytes("no"));
            image->add(kLegacy, "ManualGainControl", bytes("no"));
            image->add(kLegacy, "IrisEnabled", bytes("yes"));
            image->add(kLegacy, "CaptureFrequency", bytes(captureFrequency_.c_str()));
            image->add(kLegacy, "ManualShutter", g_variant_new_int32(-1));
            image->add(kLegacy, "IrisPosition", g_variant_new_int32(54));
            image->add(kLegacy, "ManualGain", g_variant_new_int32(1));
            image->add(kLegacy, "MaxGain", g_variant_new_int32(100));
            image->add(kLegacy, "Stabilizer", bytes("off"));
            image->add(kLegacy, "Rotation", bytes("0"));
            image->add(kStream, "SensorMaxFramerate", g_variant_new_int32(30000));
            image->add(kStream, "CaptureFrequency", bytes(captureFrequency_.c_str()));
        }

        auto info = object("com.zeto.BasicDeviceInfo1", "/com/zeto/BasicDeviceInfo1");
        info->add(kLegacy, "ProdNbr", g_variant_new_string(prodNbr_.c_str()));
        info->add(kLegacy, "Version", g_variant_new_string("1.0.0"));

        auto net = object("com.zeto.Net.Legacy", "/com/zeto/Net/Legacy");
        net->add(kLegacy, "Eth0MACAddress", bytes("02:5A:54:00:00:01"));
        net->add(kLegacy, "Eth0IPAddress", bytes("127.0.0.1"));
        net->add(kLegacy, "Eth0SubnetMask", bytes("255.0.0.0"));
        net->add(kLegacy, "DefaultRouter", bytes("127.0.0.1"));

        auto led = object("com.zeto.LEDController", "/com/zeto/LEDController");
        led->add(kLegacy, "TallyledUsage", g_variant_new_string("off"));

        for (auto& o : objects_)
            o->exportOn(ctx.bus);
        coordinator_->exportOn(ctx.bus);

        // Names are owned once everything behind them is exported.
        std::set<std::string> names;
        for (auto& o : objects_)
            names.insert(o->service());
        for (const auto& name : names)
            ctx.ownName(name);

        addCommands(ctx);
    }

    void stop() override
    {
        if (coordinator_)
            coordinator_->unexport();
        for (auto& o : objects_)
            o->unexport();
    }

private:
    PropertyObject* object(const char* service, const char* path)
    {
        objects_.push_back(std::make_unique<PropertyObject>(log_, service, path));
        return objects_.back().get();
    }

    void addCommands(Context& ctx)
    {
        ctx.control.add("korund-calls",
                        "D-Bus calls on the VISCA bridge's services, oldest first "
                        "[clear=true empties the log afterwards]",
                        [this](const nlohmann::json& req) {
                            nlohmann::json calls = log_.toJson();
                            if (req.value("clear", false))
                                log_.clear();
                            return calls;
                        });
        ctx.control.add("korund-calls-clear", "Empties the D-Bus call log of the bridge's services",
                        [this](const nlohmann::json&) {
                            log_.clear();
                            return nlohmann::json(true);
                        });
        ctx.control.add("korund-fault",
                        "query-position=malformed answers QueryPosition with seven members; "
                        "query-position=none restores it",
                        [this](const nlohmann::json& req) {
                            std::string mode = ControlSurface::text(req, "query-position");
                            if (mode != "malformed" && mode != "none")
                                throw ControlError("query-position must be malformed or none");
                            coordinator_->setMalformedPosition(mode == "malformed");
                            return nlohmann::json(mode);
                        });
        ctx.control.add("korund-focus", "Simulated focus position and continuous focus speed",
                        [this](const nlohmann::json&) {
                            return nlohmann::json{{"focus", coordinator_->focus()},
                                                  {"speed", coordinator_->focusSpeed()}};
                        });
    }

    bool noImage_ = false;
    std::string prodNbr_ = "Z1201";
    std::string captureFrequency_ = "50Hz";
    CallLog log_;
    std::unique_ptr<PtzCoordinator> coordinator_;
    std::vector<std::unique_ptr<PropertyObject>> objects_;
};

} // namespace

} // namespace camsim::korund

using camsim::korund::KorundServicesModule;
CAMSIM_MODULE(KorundServicesModule, "korund-services", camsim::kModuleOrderDefault)
