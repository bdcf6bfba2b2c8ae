#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// The form of the About box: product name, copyright line, distribution note, web-site
// text and the application icon, closed with "OK". Built afresh for every showing.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProductName() const { return m_productName; }
    QLabel* Copyright() const { return m_copyright; }
    QLabel* Programmer() const { return m_programmer; }
    QLabel* Website() const { return m_website; }
    QLabel* Image1() const { return m_image1; }
    QPushButton* OKButton() const { return m_okButton; }

    // Shows the icon centred in the 48 x 48 picture area; an empty icon leaves it empty.
    void setPicture(const QIcon& icon);

private slots:
    void OKButtonClick();

private:
    QFrame* m_panel1 = nullptr;
    QFrame* m_panel2 = nullptr;
    QLabel* m_productName = nullptr;
    QLabel* m_copyright = nullptr;
    QLabel* m_programmer = nullptr;
    QLabel* m_website = nullptr;
    QLabel* m_image1 = nullptr;
    QPushButton* m_okButton = nullptr;
};
