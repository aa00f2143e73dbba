// quillon's log goes to stderr as well, where the tests read its lines.
#include <stdlib.h>

namespace
{

[[maybe_unused]] const bool logMirrored = setenv("QUILLON_LOG_STDERR", "1", 1) == 0;

} // namespace
