#pragma once

namespace quillon
{

// Error codes of the JSON API envelope and of the runtime methods.
enum ApiError : int {
    kApiNotJson = 1001,       // body neither a JSON object nor an array
    kApiNoMethod = 1002,      // "method" missing or not a string
    kApiMethodRefused = 1003, // unknown method or level below its minimum
    kApiNoParams = 1004,      // "params" missing or not an object
    kApiNothingKnown = 1005,  // no known settings key in "params"
    kApiBadTempZone = 1006,   // setTempZone: unknown zone type or timeout outside 5-120
    kApiMissingKey = 1101,    // a required key missing
    // A settings change was accepted but its file could not be written: the
    // method did not complete, so it is refused rather than answered with 0.
    kApiSaveFailed = kApiMethodRefused,
};

} // namespace quillon
