#include "trace.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

namespace camsim
{

Trace::~Trace()
{
    stop();
}

int Trace::addColumns(std::vector<std::string> names, ColumnSource source)
{
    int id = nextId_++;
    extra_.emplace(id, Columns{std::move(names), std::move(source)});
    return id;
}

void Trace::removeColumns(int id)
{
    extra_.erase(id);
}

bool Trace::start(const std::string& path, std::string& error)
{
    stop();
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        error = fmt::format("cannot open {}: {}", path, std::strerror(errno));
        return false;
    }
    file_ = f;
    path_ = path;
    rows_ = 0;
    std::string header = "time_s,pan,tilt,zoom,hfov,vfov,pan_speed,tilt_speed,zoom_rate,status,"
                         "cmd_pan,cmd_tilt,cmd_zoom,cmd_space";
    active_.clear();
    for (auto& [id, c] : extra_) {
        active_.emplace_back(id, c.names.size());
        for (auto& n : c.names)
            header += "," + n;
    }
    header += "\n";
    std::fputs(header.c_str(), file_);
    return true;
}

void Trace::stop()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void Trace::writeRow(const CameraState& s, const CommandedSpeeds& c)
{
    if (file_ == nullptr)
        return;
    std::string row = fmt::format("{:.6f},{:.4f},{:.4f},{:.4f},{:.4f},{:.4f},{:.4f},{:.4f},{:.4f},"
                                  "{},{:.4f},{:.4f},{:.4f},{}",
                                  static_cast<double>(s.timeUs) / 1e6, s.pan, s.tilt, s.zoom,
                                  s.hfov, s.vfov, s.panSpeed, s.tiltSpeed, s.zoomRate, s.status,
                                  c.pan, c.tilt, c.zoom, speedSpaceName(c.space));
    for (auto& [id, width] : active_) {
        scratch_.clear();
        auto it = extra_.find(id);
        if (it != extra_.end())
            it->second.source(scratch_);
        scratch_.resize(width); // a missing or short source leaves blanks
        for (auto& v : scratch_)
            row += "," + v;
    }
    row += "\n";
    std::fputs(row.c_str(), file_);
    ++rows_;
}

} // namespace camsim
