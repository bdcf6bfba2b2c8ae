#include "TAboutDlg.h"

#include "TAboutBox.h"

#include <QLabel>
#include <QWidget>

#include <memory>

TAboutDlg::TAboutDlg(QObject* owner)
    : QObject(owner)
{
}

TAboutDlg::~TAboutDlg() = default;

void TAboutDlg::Execute()
{
    // The box is released when Execute ends, also when a step throws.
    auto box = std::make_unique<TAboutBox>(qobject_cast<QWidget*>(parent()));
    m_box = box.get();
    box->setWindowTitle(m_title);
    box->ProductName()->setText(m_productName);
    box->Copyright()->setText(m_copyRight);
    box->Programmer()->setText(m_programmer);
    box->Website()->setText(m_webSite);
    box->setPicture(m_icon);
    box->exec();
}
