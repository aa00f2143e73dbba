#pragma once

#include <string_view>

namespace quillon
{

// Permission level of a request from the script name the web server invoked:
// 1 for "...operator.cgi" and "...operator.fcgi", 2 for "...admin.cgi" and
// "...settings.fcgi", 0 for anything else. Only the ending counts.
int permissionLevel(std::string_view scriptName);

} // namespace quillon
