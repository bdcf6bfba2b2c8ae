#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QProcess;

// A radio Hamlib knows: its model number (rigctld -m) and names.
struct RigModel {
    int number = 0;
    QString maker;
    QString model;

    friend bool operator==(const RigModel&, const RigModel&) = default;
};

// The rows of `rigctld -l` (its standard output only). The columns are fixed-width but
// makers and models hold spaces ("Dummy No VFO"), so each row is cut at the header's
// column positions. Rows without a model number are skipped.
QList<RigModel> ParseRigModelList(const QByteArray& stdoutText);

// Reads the radios rigctld knows by running `rigctld -l` once, without waiting for it.
// One reader serves the whole program run (shared()), so each settings window shows the
// list read the first time.
class TRigModelReader : public QObject {
    Q_OBJECT
public:
    explicit TRigModelReader(QObject* parent = nullptr);
    ~TRigModelReader() override;

    // The program's reader, owned by the application object (made at first use).
    static TRigModelReader* shared();

    // Runs RigServerProgram() -l unless it ran or runs already.
    void start();
    bool isLoading() const { return m_state != State::Done; }
    const QList<RigModel>& models() const { return m_models; }
    // Why there is no list (empty while loading and after success).
    QString failure() const { return m_failure; }

signals:
    // The list or the failure is there (once).
    void finished();

private:
    enum class State { Idle, Running, Done };

    void onFinished(int exitCode, int exitStatus);
    void onFailedToStart();
    void finish(const QString& failure);

    State m_state = State::Idle;
    QProcess* m_process = nullptr;
    QList<RigModel> m_models;
    QString m_failure;
};
