#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kortest
{

using Bytes = std::vector<std::uint8_t>;

// Hex bytes separated by spaces. "8x" is the command header of device `id`
// (0x80 + id), "y0" the reply header (0x80 + id * 16).
Bytes hex(const std::string& text, int id = 1);
std::string toHex(const Bytes& bytes);
std::string toHex(const std::uint8_t* bytes, std::size_t length);

} // namespace kortest
