#include "CControlsTest.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QString>
#include <QWidget>

std::unique_ptr<QApplication> CControlsTest::s_pApplication;

void CControlsTest::SetUpTestSuite()
{
    // QApplication keeps references to its arguments for its whole life.
    static int argc = 1;
    static char szName[] = "controls_test";
    static char* argv[] = {szName, nullptr};
    s_pApplication = std::make_unique<QApplication>(argc, argv);
}

void CControlsTest::TearDownTestSuite()
{
    s_pApplication.reset();
}

QImage CControlsTest::Grab(QWidget& widget)
{
    widget.show();
    QApplication::processEvents();
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRect CControlsTest::InkBounds(const QImage& image, const QRect& area, QRgb background)
{
    QRect bounds;
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (image.pixel(x, y) != background)
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

int CControlsTest::CountColour(const QImage& image, const QRect& area, QRgb colour)
{
    int nCount = 0;
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            nCount += image.pixel(x, y) == colour ? 1 : 0;
    }
    return nCount;
}

QRect CControlsTest::ReferenceInk(const QFont& font, const QString& text, int flags, const QRect& rect)
{
    QImage image(rect.right() + 1, rect.bottom() + 1, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.setClipRect(rect);
        painter.drawText(rect, flags, text);
    }
    return InkBounds(image, image.rect(), qRgb(255, 255, 255));
}
