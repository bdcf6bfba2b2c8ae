#include "serial/ComTypes.h"

#include <array>

namespace {
constexpr std::array<std::int32_t, 16> kSpeeds = { 0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000 };
}

std::int32_t BaudRateSpeed(TBaudRate rate)
{
    return rate < kSpeeds.size() ? kSpeeds[rate] : 0;
}

TBaudRate BaudRateFromSpeed(std::int32_t speed)
{
    for (std::size_t i = 1; i < kSpeeds.size(); ++i) {
        if (kSpeeds[i] == speed)
            return static_cast<TBaudRate>(i);
    }
    return brCustom;
}
