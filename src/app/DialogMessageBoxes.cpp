#include "DialogMessageBoxes.h"

#include <QMessageBox>

DialogMessageBoxes::DialogMessageBoxes(QWidget* parent)
    : m_parent(parent)
{
}

DialogMessageBoxes::~DialogMessageBoxes() = default;

void DialogMessageBoxes::openBox(const QString& text, std::function<void()> dismissed)
{
    auto* box
        = new QMessageBox(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (dismissed)
        QObject::connect(box, &QMessageBox::finished, box, [dismissed](int) { dismissed(); });
    box->open();
}

void DialogMessageBoxes::message(const QString& text)
{
    openBox(text, {});
}

void DialogMessageBoxes::report(const QString& text, std::function<void()> dismissed)
{
    openBox(text, std::move(dismissed));
}

void DialogMessageBoxes::fatal(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool DialogMessageBoxes::confirm(const QString& caption, const QString& text)
{
    QMessageBox box(
        QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, m_parent);
    return box.exec() == QMessageBox::Ok;
}

std::unique_ptr<IMessageBoxes> createMessageBoxes()
{
    const QString path = qEnvironmentVariable("VOKEY_MESSAGE_LOG");
    if (!path.isEmpty()) {
        const bool ok
            = qEnvironmentVariable("VOKEY_MESSAGE_ANSWER").compare("cancel", Qt::CaseInsensitive)
            != 0;
        return std::make_unique<FileMessageBoxes>(path, ok);
    }
    return std::make_unique<DialogMessageBoxes>();
}
