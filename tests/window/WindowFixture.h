#pragma once
// The main window under test, in this process: a private runtime directory (so the
// single-instance lock is the test's own), a fresh working directory per test, silence as
// the audio, and message boxes that record.

#include "WindowTestSupport.h"

#include "app/TForm1.h"
#include "core/IniProfile.h"
#include "host/StationHost.h"
#include "rig/OmniRigX.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class WindowFixture {
protected:
    // From initTestCase, init and cleanup.
    bool setUpCase()
    {
        if (!m_runtime.isValid())
            return false;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_startDir = QDir::currentPath();
        m_silence = m_runtime.filePath(QStringLiteral("silence.wav"));
        return writeTestWav(m_silence, 0.2);
    }
    bool setUp()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes = RecordingMessageBoxes();
        SetApplicationTitle(QStringLiteral("VOX Operated PTT Switch"));
        return m_dir->isValid() && QDir::setCurrent(m_dir->path());
    }
    void tearDown()
    {
        m_host.reset();
        m_form.reset();
        QDir::setCurrent(m_startDir);
        m_dir.reset();
    }

    // Starts a window; null when it refused to start. Without keepMessages the notice that
    // the default port COM1 names no device here is dropped.
    TForm1* start(const QStringList& arguments = {}, bool keepMessages = false)
    {
        TForm1Options options;
        options.configFile = ConfigPathFromArguments(
            QStringList { QStringLiteral("vokey") } + arguments, WorkDirFrom(QDir::currentPath()));
        options.audioFile = m_silence;
        options.messages = &m_boxes;
        options.rigTimings = m_rigTimings;
        options.makeOmniRig = m_makeOmniRig;
        // Without radios of its own a test must never reach a rigctld that happens to run
        // here on the usual ports (an operator's radio): no radio unless configured.
        if (!options.makeOmniRig)
            options.makeOmniRig = [] {
                auto link = std::make_unique<TOmniRigX>();
                link->SetDefaultSettings(RigSettings {});
                return link;
            };
        if (!m_audioFile.isEmpty())
            options.audioFile = m_audioFile;
        if (m_soundCard)
            options.audioFile.clear();
        options.audioLoop = m_audioLoop;
        m_form = std::make_unique<TForm1>(options);
        // The process around it as the program has it: the lock and the exit signals.
        m_host = std::make_unique<StationHost>(m_form->Station(), StationHostOptions {});
        if (!m_host->acquire())
            return nullptr;
        QObject::connect(
            m_host.get(), &StationHost::exitRequested, m_form.get(), &TForm1::closeOnSignal);
        m_form->FormCreate();
        m_host->started();
        if (!keepMessages)
            m_boxes.boxes.clear();
        return m_form.get();
    }
    template <typename T> T* child(const char* name) const
    {
        T* widget = m_form->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void writeConfig(const QString& file, const QList<QPair<QString, QString>>& values)
    {
        for (const auto& [key, value] : values)
            WriteProfileString(path(file), QStringLiteral("SETTINGS"), key, value);
    }

    QTemporaryDir m_runtime;
    QString m_startDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_silence;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<StationHost> m_host;
    // Given to the window at start.
    std::optional<RigTimings> m_rigTimings;
    std::function<std::unique_ptr<TOmniRigX>()> m_makeOmniRig;
    QString m_audioFile; // empty: silence
    bool m_soundCard = false; // capture from the configured device instead of a file
    bool m_audioLoop = false; // the audio file played over and over
};

// "text=command" per item, "-" per separator.
inline QStringList menuItems(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions())
        items << (action->isSeparator() ? QStringLiteral("-")
                                        : action->text()
                    + (action->data().isValid() ? '=' + QString::number(action->data().toInt())
                                                : QString()));
    return items;
}

inline QAction* findAction(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    qFatal("no menu item %s", qPrintable(text));
}
