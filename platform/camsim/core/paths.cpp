#include "paths.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace camsim
{

std::string camPath(const std::string& path)
{
    const char* root = std::getenv("CAMROOT");
    if (root == nullptr || *root == '\0' || path.empty() || path[0] != '/')
        return path;
    std::string r(root);
    while (!r.empty() && r.back() == '/')
        r.pop_back();
    return r + path;
}

bool makeParentDirs(const std::string& path)
{
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    return true;
}

long long monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

} // namespace camsim
