#pragma once

#include "RigId.h"
#include "RigTypes.h"

#include <QByteArray>

#include <QString>

#include <array>
#include <functional>
#include <optional>

// Which radios this program may have left keyed, in a small file beside the configuration
// file (its name and ".keyed"): a radio is marked before it is keyed and unmarked once its
// release has been confirmed. At the next start only a marked radio is released when its
// link comes up, so that a crash or a power loss of this computer is still covered while a
// transmission another program started through the same rigctld is left alone. A mark names
// the rig, its server's host and port and this computer: one left by another computer with
// the same (network) home, or for a server the rig no longer uses, is not this one's.
//
// The file is written without waiting for the disk: a mark reaches it with the file
// system's next commit (seconds), which an over outlasts; keying never waits for a disk.
class RigKeyMarker {
public:
    // No file name: nothing is kept, and every radio counts as possibly keyed.
    explicit RigKeyMarker(QString fileName = {});

    static QString fileNameFor(const QString& configFile);

    // Marked for this rig at this server, from this computer.
    bool mayBeKeyed(RigId rig, const RigEndpoint& at) const;
    void mark(RigId rig, bool keyed, const RigEndpoint& at);
    // This computer as a mark names it (its machine id).
    static QByteArray thisMachine();

    // The mark line of each rig; empty: not marked.
    using Lines = std::array<QByteArray, 2>;
    // Told once when the marks cannot be kept (until they can again): a power cut while
    // keyed would then not be recovered at the next start.
    void setProblemReport(std::function<void(const QString&)> report)
    {
        m_report = std::move(report);
    }

private:
    const Lines& read() const;
    void write(const Lines& lines);
    // A directory, a FIFO (whose opening would wait for a reader) or a link to elsewhere
    // stands where the file should be: the reason, else empty.
    QString notAFile() const;
    void problem(const QString& reason);

    QString m_fileName;
    mutable std::optional<Lines> m_lines; // until read
    bool m_writeFailed = false; // tried again at the next mark
    bool m_problemSaid = false;
    std::function<void(const QString&)> m_report;
};
