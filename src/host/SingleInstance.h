#pragma once

#include <QString>

// Marks the one running instance of the program for the current user: a lock file named
// after the program in the user's runtime directory ($XDG_RUNTIME_DIR, else the temporary
// directory), locked for as long as this object lives. The lock goes with the process, so a
// killed instance never blocks the next start.
class SingleInstance {
public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when no other process holds the lock (this one holds it from now on). A lock file
    // that cannot be created does not stop the program: that also counts as true.
    bool acquire();
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
