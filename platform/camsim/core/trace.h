#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "camera.h"

namespace camsim
{

// A CSV trace of the camera for plots: one row per simulator tick while
// started. Fixed columns:
//   time_s (CLOCK_MONOTONIC seconds), pan, tilt, zoom, hfov, vfov,
//   pan_speed, tilt_speed (degrees/s, actual), zoom_rate (stops/s, actual),
//   status, cmd_pan, cmd_tilt, cmd_zoom (last continuous move, raw), cmd_space
// followed by the columns that extensions add (object positions, ...).
class Trace
{
public:
    // Appends exactly as many values as the column source declared names.
    using ColumnSource = std::function<void(std::vector<std::string>& values)>;

    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Columns added here appear in traces started afterwards.
    int addColumns(std::vector<std::string> names, ColumnSource source);
    void removeColumns(int id);

    // Starts writing to `path` (used as given), replacing a running trace.
    bool start(const std::string& path, std::string& error);
    void stop();
    bool active() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    std::size_t rows() const { return rows_; }

    void writeRow(const CameraState& state, const CommandedSpeeds& commanded);

private:
    struct Columns {
        std::vector<std::string> names;
        ColumnSource source;
    };
    std::map<int, Columns> extra_;
    int nextId_ = 1;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::size_t rows_ = 0;
    std::vector<std::string> scratch_;
    std::vector<std::pair<int, std::size_t>> active_; // column ids and widths of this trace
};

} // namespace camsim
