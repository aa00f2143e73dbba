#pragma once

#include <nlohmann/json.hpp>

#include "pavane/video_output.h"

namespace camsim
{

// The camera's video outputs as the service behind libpavane sees them: port
// 0 "HDMI" and port 1 "SDI", each with a scan mode, the SDI port with its
// coding level. HDMI starts enabled, SDI disabled. A request that names no
// port (-1) acts on the first enabled output (port 0 when none is).
//
// The callback table has no user data, so the state is process-wide; it is
// touched only on camsim's main loop (libpavane calls back from there).
namespace simulated_outputs
{

// The table handed to video_output_api_init (every callback present).
const VideoOutputFunctions* table();
// Back to the start state.
void reset();
// The current state, for the control surface.
nlohmann::json state();

} // namespace simulated_outputs

} // namespace camsim
