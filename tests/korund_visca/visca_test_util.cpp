#include "visca_test_util.h"

#include <cstdio>
#include <sstream>

namespace kortest
{

Bytes hex(const std::string& text, int id)
{
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        if (token == "8x")
            out.push_back(static_cast<std::uint8_t>(0x80 + id));
        else if (token == "y0")
            out.push_back(static_cast<std::uint8_t>(0x80 + id * 16));
        else
            out.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return out;
}

std::string toHex(const std::uint8_t* bytes, std::size_t length)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < length; i++) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

std::string toHex(const Bytes& bytes)
{
    return toHex(bytes.data(), bytes.size());
}

} // namespace kortest
