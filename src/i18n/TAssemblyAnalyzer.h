#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

// Where one appended catalogue lies inside the executable.
struct TAssemblyFileInfo {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Catalogues appended to the executable (scripts/embed-catalogues). The executable holds a
// marker text followed by the 64-bit little-endian file offset of a chain of table entries,
// 0 when nothing is appended. Each entry: offset of the next entry (0 ends the chain),
// catalogue offset, catalogue size (64-bit little-endian each), then the catalogue's name,
// a path relative to the executable's directory, up to the next entry.
class TAssemblyAnalyzer {
public:
    // Reads the table of the executable (or of any file holding the marker, for tests).
    // Anything unreadable or inconsistent ends the scan; what was read before stays known.
    void ScanExecutable(const QString& executablePath);

    QString Executable() const { return m_executable; }
    // The executable's directory, ending in "/".
    QString BaseDirectory() const { return m_baseDirectory; }
    // The names of the appended catalogues, lower case, sorted.
    QStringList FileNames() const { return m_files.keys(); }

    // Whether a full path names an appended catalogue (the executable's directory is taken
    // off the front; case does not matter).
    bool FileExists(const QString& path) const;
    // Where to read a catalogue from: for an appended one the executable and the
    // catalogue's place in it, otherwise the path itself with offset 0 and size 0.
    QString FileInfo(const QString& path, TAssemblyFileInfo& info) const;

private:
    QString RelativeKey(const QString& path) const;

    QString m_executable;
    QString m_baseDirectory;
    QMap<QString, TAssemblyFileInfo> m_files;
};
