#pragma once
// Waiting for a condition where QTRY_VERIFY_WITH_TIMEOUT cannot serve: outside a test
// function (a fixture's start), or where the caller wants the outcome.

#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop (as QTRY_* does, in steps of 10 ms) until `ready()` holds or
// `timeoutMs` have passed; whether it held.
template <typename Predicate> bool waitUntil(Predicate ready, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}
