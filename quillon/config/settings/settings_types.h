#pragma once

namespace quillon
{

// Payloads of the TrackerSettingsMessage<T> that the settings records publish
// whenever they are loaded or changed.

// "applicationSettings": tracking on (active) or the process idles out.
struct application_settings_t {
    bool active = false;
};

struct max_object_speed_t {
    bool enabled = false;
    int lowSpeed = 30;
    int highSpeed = 60;
};

struct min_object_lifespan_t {
    bool enabled = false;
    int time = 1; // seconds
};

struct min_object_size_t {
    bool enabled = true;
    int width = 5;
    int height = 5;
};

struct MinObjectSizeDegrees {
    bool enabled = false;
    float width = 0.5f; // degrees
    float height = 0.5f;
};

struct TrackingParams {
    float zoomLimitHigh = 8.0f;
    float zoomLimitLow = 1.0f;
    float timeoutToHome = 5.0f; // seconds
    int maxProfileNumber = 10;
    int trackerType = 0;
    int returnToPreset = -1; // -1: none
};

// Controller gains of the pan and tilt PID.
struct pid_params_t {
    double kp = 17.0;
    double ki = 3.0;
    double kd = 18.0;
    double signalThreshold = 1.0;
};
struct pan_pid_t : pid_params_t {
};
struct tilt_pid_t : pid_params_t {
};

struct vc_size_filter_t {
    bool enabled = true;
};

} // namespace quillon
