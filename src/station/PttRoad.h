#pragma once

#include <QString>

#include <exception>

// One road by which this program keys a transmitter: a radio through its rig-control
// server, or DTR and RTS of a serial port. The station keys and releases a list of them.
// key() and release() raise their failure to the caller; a road that can be driven partly
// (two lines) tries all of it before raising the first failure.
class PttRoad {
public:
    virtual ~PttRoad() = default;

    // How the road is named to the operator, e.g. "Rig A".
    virtual QString name() const = 0;
    virtual void key() = 0;
    virtual void release() = 0;
    // Keyed by this program and not released since (as far as it knows: a release that
    // failed leaves the road keyed).
    virtual bool keyed() const = 0;
};

// Runs one step of a keying. Every step is tried; the first failure is kept for the caller
// to raise once all of them are done, so that a failing road never keeps another one keyed.
template <typename Step> void driveRoad(std::exception_ptr& failure, Step step)
{
    try {
        step();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
}
