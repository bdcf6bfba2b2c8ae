#pragma once

#include "widgets/TAboutBox.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Holds the About texts and icon for the life of the window and shows a fresh About box
// on request.
class TAboutDlg : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Title READ Title WRITE setTitle)
    Q_PROPERTY(QString ProductName READ ProductName WRITE setProductName)
    Q_PROPERTY(QString CopyRight READ CopyRight WRITE setCopyRight)
    Q_PROPERTY(QString Programmer READ Programmer WRITE setProgrammer)
    Q_PROPERTY(QString WebSite READ WebSite WRITE setWebSite)
    Q_PROPERTY(QIcon Icon READ Icon WRITE setIcon)

public:
    explicit TAboutDlg(QObject* owner = nullptr);
    ~TAboutDlg() override;

    QString Title() const { return m_title; }
    void setTitle(const QString& text) { m_title = text; }
    QString ProductName() const { return m_productName; }
    void setProductName(const QString& text) { m_productName = text; }
    QString CopyRight() const { return m_copyRight; }
    void setCopyRight(const QString& text) { m_copyRight = text; }
    QString Programmer() const { return m_programmer; }
    void setProgrammer(const QString& text) { m_programmer = text; }
    QString WebSite() const { return m_webSite; }
    void setWebSite(const QString& text) { m_webSite = text; }
    QIcon Icon() const { return m_icon; }
    // Keeps a copy; the caller's icon stays its own.
    void setIcon(const QIcon& icon) { m_icon = icon; }

    // Shows the box modally (over the owner's window when the owner is a widget) and
    // returns when it closes, however it was closed.
    void Execute();

    // The box while Execute runs, otherwise null.
    TAboutBox* Box() const { return m_box; }

private:
    QString m_title;
    QString m_productName;
    QString m_copyRight;
    QString m_programmer;
    QString m_webSite;
    QIcon m_icon;
    QPointer<TAboutBox> m_box;
};
