#pragma once

#include <QChar>

#include <array>
#include <optional>

// The two radios of a two-radio station. A rig is known by its letter to the operator
// ("Rig A"), by its number to the rig link and in what it stores ("Rig1 does not answer",
// sections RIG1 and RIG2, the guard's "server 1"), and by its place in a pair of anything
// kept per rig. The conversions between them are these, and only these.
enum class RigId { A, B };
inline constexpr std::array<RigId, 2> AllRigs { RigId::A, RigId::B };

// Its place in a pair kept per rig: 0 or 1.
constexpr int rigIndex(RigId id)
{
    return id == RigId::A ? 0 : 1;
}

// Its number, 1 or 2, as shown and stored.
constexpr int rigNumber(RigId id)
{
    return rigIndex(id) + 1;
}

// The rig a number shown or stored names; none for any other number.
constexpr std::optional<RigId> rigFromNumber(int number)
{
    if (number == 1)
        return RigId::A;
    if (number == 2)
        return RigId::B;
    return std::nullopt;
}

// Its letter, 'A' or 'B', as the operator sees it.
inline QChar rigLetter(RigId id)
{
    return id == RigId::A ? QLatin1Char('A') : QLatin1Char('B');
}
