#include "i18n/TAssemblyAnalyzer.h"

#include "i18n/MappedFile.h"

#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

// The marker scripts/embed-catalogues looks for, followed by the 8-byte offset of the
// catalogue table that it writes there; the program as built holds 0. The scan searches the
// file for this same array, so the marker text exists once in the executable.
extern "C" __attribute__((used)) const char vokeyEmbeddedCatalogueTable[44]
    = "6637DB2E-62E1-4A60-AC19-C23867046A89\0\0\0\0\0\0\0";

namespace {

constexpr std::size_t markerLength = 36;
// A name longer than this is taken for a broken table rather than a path.
constexpr std::uint64_t longestName = 4096;

std::uint64_t ReadLittle64(const unsigned char* at)
{
    return qFromLittleEndian<quint64>(at);
}

bool IsBlankOrControl(unsigned char c)
{
    return c <= ' ' || c == 0x7f;
}

} // namespace

void TAssemblyAnalyzer::ScanExecutable(const QString& executablePath)
{
    m_executable = executablePath;
    m_baseDirectory = QFileInfo(executablePath).absolutePath() + QLatin1Char('/');
    m_files.clear();

    TMappedFile file;
    if (file.Open(executablePath) != TMappedFile::mfOk)
        return;
    const unsigned char* data = file.Data();
    const std::uint64_t size = file.Size();
    const auto* found = static_cast<const unsigned char*>(
        memmem(data, size, vokeyEmbeddedCatalogueTable, markerLength));
    if (!found || std::uint64_t(found - data) + markerLength + 8 > size)
        return;
    std::uint64_t entry = ReadLittle64(found + markerLength);
    while (entry != 0) {
        // Every entry lies after the one before it, so a broken table cannot loop.
        if (entry > size || size - entry < 8)
            return;
        const std::uint64_t next = ReadLittle64(data + entry);
        if (next == 0)
            return;
        if (size - entry < 24 || next <= entry + 24 || next > size
            || next - entry - 24 > longestName)
            return;
        TAssemblyFileInfo info;
        info.offset = ReadLittle64(data + entry + 8);
        info.size = ReadLittle64(data + entry + 16);
        const unsigned char* nameBegin = data + entry + 24;
        const unsigned char* nameEnd = data + next;
        while (nameBegin < nameEnd && IsBlankOrControl(*nameBegin))
            ++nameBegin;
        while (nameEnd > nameBegin && IsBlankOrControl(nameEnd[-1]))
            --nameEnd;
        const QString key
            = QString::fromUtf8(reinterpret_cast<const char*>(nameBegin), nameEnd - nameBegin)
                  .toLower();
        if (key.isEmpty() || m_files.contains(key))
            return;
        m_files.insert(key, info);
        entry = next;
    }
}

QString TAssemblyAnalyzer::RelativeKey(const QString& path) const
{
    const QString relative = !m_baseDirectory.isEmpty() && path.startsWith(m_baseDirectory)
        ? path.mid(m_baseDirectory.size())
        : path;
    return relative.toLower();
}

bool TAssemblyAnalyzer::FileExists(const QString& path) const
{
    return m_files.contains(RelativeKey(path));
}

QString TAssemblyAnalyzer::FileInfo(const QString& path, TAssemblyFileInfo& info) const
{
    const auto found = m_files.constFind(RelativeKey(path));
    if (found == m_files.constEnd()) {
        info = {};
        return path;
    }
    info = *found;
    return m_executable;
}
