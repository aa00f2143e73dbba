#include "gerror.h"

#include <fmt/format.h>

#include <stdexcept>

namespace camsim
{

void throwGError(const std::string& what, GError* err)
{
    std::string msg = fmt::format("{}: {}", what, err != nullptr ? err->message : "?");
    g_clear_error(&err);
    throw std::runtime_error(msg);
}

} // namespace camsim
