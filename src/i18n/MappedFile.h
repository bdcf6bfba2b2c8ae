#pragma once

#include <QString>

#include <cstdint>

// A whole file mapped read-only into memory; the catalogues are searched in place there.
class TMappedFile {
public:
    enum TResult { mfOk, mfCannotOpen, mfCannotCreateMap, mfCannotMap };

    TMappedFile() = default;
    ~TMappedFile() { Close(); }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    // Maps the file; on failure nothing stays open and ErrorText() says why.
    TResult Open(const QString& path);
    void Close();

    const unsigned char* Data() const { return m_data; }
    std::uint64_t Size() const { return m_size; }
    // The system's text for the last failure of Open().
    QString ErrorText() const { return m_errorText; }

private:
    const unsigned char* m_data = nullptr;
    std::uint64_t m_size = 0;
    QString m_errorText;
};
