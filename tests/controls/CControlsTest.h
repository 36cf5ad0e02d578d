#pragma once
// Fixture of the control tests: a QApplication for each suite, and
// the pixel inspection the drawing tests share.

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>

#include <memory>

class QApplication;
class QFont;
class QString;
class QWidget;

class CControlsTest : public ::testing::Test {
protected:
    // Solid glyphs, so that whole pixels take the text colour.
    static constexpr const char* szSquares = "■■";

    // Each suite runs inside its own application, gone before Qt's own
    // globals are torn down at exit.
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // Shows the widget, lets it lay out, and renders it.
    static QImage Grab(QWidget& widget);
    // Bounding box of the pixels in area that differ from background.
    static QRect InkBounds(const QImage& image, const QRect& area, QRgb background);
    static int CountColour(const QImage& image, const QRect& area, QRgb colour);
    // Where text drawn in rect with these flags and font leaves ink, rendered
    // on its own: the reference the controls' drawing must match.
    static QRect ReferenceInk(const QFont& font, const QString& text, int flags, const QRect& rect);

private:
    static std::unique_ptr<QApplication> s_pApplication;
};
