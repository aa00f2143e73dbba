#pragma once

#include <glib.h>

#include <string>

namespace camsim
{

// Throws std::runtime_error("<what>: <message of err>") and frees err, which
// may be null (the message is then "?"). For set-up steps whose failure ends
// the simulator: exporting objects, owning names.
[[noreturn]] void throwGError(const std::string& what, GError* err);

} // namespace camsim
