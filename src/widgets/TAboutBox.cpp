#include "TAboutBox.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int pictureSize = 48;

QLabel* makeLabel(const char* name, const QString& text, bool wordWrap, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(wordWrap);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent)
    , m_panel1(new QFrame(this))
{
    setWindowTitle(QStringLiteral("About"));
    setObjectName(QStringLiteral("AboutBox"));
    setModal(true);

    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panel1->setLineWidth(2);
    m_panel1->setMinimumSize(281, 137);

    m_panel2 = new QFrame(m_panel1);
    m_panel2->setObjectName(QStringLiteral("Panel2"));
    m_panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel2->setLineWidth(1);
    m_panel2->setFixedSize(pictureSize + 2, pictureSize + 2);
    m_image1 = new QLabel(m_panel2);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(1, 1, pictureSize, pictureSize);
    m_image1->setAlignment(Qt::AlignCenter);

    m_productName = makeLabel("ProductName", QStringLiteral("Product Name"), false, m_panel1);
    m_copyright = makeLabel("Copyright", QStringLiteral("Copyright"), false, m_panel1);
    m_programmer = makeLabel("Programmer", QStringLiteral("Programmer:"), true, m_panel1);
    m_website = makeLabel("Website", QStringLiteral("WebSite:"), true, m_panel1);

    // Picture on the left, the four texts in a column beside it; the column grows with
    // the texts instead of clipping them.
    auto* texts = new QVBoxLayout;
    texts->setSpacing(12);
    for (QLabel* label : { m_productName, m_copyright, m_programmer, m_website })
        texts->addWidget(label);
    texts->addStretch();
    auto* panelLayout = new QHBoxLayout(m_panel1);
    panelLayout->setContentsMargins(8, 8, 8, 8);
    panelLayout->setSpacing(6);
    panelLayout->addWidget(m_panel2, 0, Qt::AlignTop);
    panelLayout->addLayout(texts, 1);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setFixedSize(75, 25);
    m_okButton->setDefault(true);
    m_okButton->setAutoDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 7, 5);
    layout->setSpacing(7);
    layout->addWidget(m_panel1, 1);
    layout->addWidget(m_okButton, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(296, 182);
}

void TAboutBox::setPicture(const QIcon& icon)
{
    if (icon.isNull())
        m_image1->clear();
    else
        m_image1->setPixmap(icon.pixmap(pictureSize, pictureSize));
}

void TAboutBox::OKButtonClick()
{
    done(QDialog::Accepted);
}
