#include "quillon/api/methods/api_state.h"

namespace quillon
{

ApiState& apiState()
{
    static ApiState state;
    return state;
}

} // namespace quillon
