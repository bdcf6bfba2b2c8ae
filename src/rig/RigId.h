#pragma once

#include <QChar>

#include <array>
#include <optional>

// The two radios of a two-radio station.
enum class RigId { A, B };
inline constexpr std::array<RigId, 2> AllRigs { RigId::A, RigId::B };

// The rig link numbers its radios 1 and 2.
inline int rigNumber(RigId id)
{
    return id == RigId::A ? 1 : 2;
}
inline std::optional<RigId> rigFromNumber(int number)
{
    if (number == 1)
        return RigId::A;
    if (number == 2)
        return RigId::B;
    return std::nullopt;
}
inline QChar rigLetter(RigId id)
{
    return id == RigId::A ? QLatin1Char('A') : QLatin1Char('B');
}
