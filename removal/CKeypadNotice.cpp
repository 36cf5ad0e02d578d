#include "removal/CKeypadNotice.h"

#include "removal/RemovalMessages.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

#include <thread>

CKeypadNotice::CKeypadNotice(QWidget* owner) : QDialog(owner)
{
    setObjectName(kObjectName);
    setWindowTitle(QString::fromUtf8(Messages::kKeypadCaption));
    // No close button in the title bar where the window manager obeys.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(size, size));
    auto* text = new QLabel(QString::fromUtf8(Messages::kEnterPinOnKeypad), this);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(text, 1);
}

void CKeypadNotice::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

CK_RV CKeypadNotice::Run(QWidget* owner, const std::function<CK_RV()>& login)
{
    CKeypadNotice notice(owner);
    CK_RV rv = CKR_GENERAL_ERROR;
    // Joined before the notice goes; an answer posted after the loop ended
    // is dropped with the notice. The slot is named, not a functor: a
    // functor's slot object, shared by both threads, would be freed by
    // whichever lets it go last.
    std::jthread worker([&] {
        rv = login();
        QMetaObject::invokeMethod(&notice, "accept", Qt::QueuedConnection);
    });
    notice.exec();
    worker.join();
    return rv;
}
