#pragma once

#include <QString>

// One VOKEY process per radio: a claim on a name (a rigctld endpoint) that another process
// cannot take while this one holds it, whatever its user or environment (the one-instance
// lock lives in XDG_RUNTIME_DIR, which a service and a terminal, or sudo, do not share). Each
// would otherwise release the other's over. Within this process a claim is shared. It ends
// with the process, however that ends (RadioClaim_posix.cpp).
class RadioClaim {
public:
    RadioClaim() = default;
    ~RadioClaim() { drop(); }
    RadioClaim(const RadioClaim&) = delete;
    RadioClaim& operator=(const RadioClaim&) = delete;

    // Takes the claim on `name` (dropping any other); false when another process holds it:
    // its process id is then holder() (0 when it cannot be told).
    bool take(const QString& name);
    void drop();
    bool held() const { return !m_name.isEmpty(); }
    qint64 holder() const { return m_holder; }

private:
    QString m_name;
    qint64 m_holder = 0;
};
