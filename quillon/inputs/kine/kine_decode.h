#pragma once

#include <cstddef>
#include <cstdint>

#include "quillon/tracking/objects/scene_update.h"

namespace quillon
{

// Largest length word a scene-feed message may carry (the feed's frame
// limit plus the word itself).
inline constexpr std::uint32_t kKineMaxFramed = 4u * 1024u * 1024u + 4u;

// Decodes one framed scene-feed message: a 32-bit big-endian length word that
// counts itself, then a serialised Scene. The word must lie in
// [4, limit]; `limit` is the number of bytes known to be readable at
// `buffer` (the feed library guarantees the word itself). On success fills
// `out` (scene time ns / 1000, events with unknown actions as merges,
// objects as KineObjects) and returns true; on failure logs the decode
// error line and returns false. Never frees `buffer`.
bool decodeKineMessage(const std::uint8_t* buffer, std::size_t limit, KineSceneUpdate& out);

} // namespace quillon
