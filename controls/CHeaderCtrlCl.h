#pragma once
// The column header of the colour list. It paints itself whole: every item
// and the area right of the last one get a vertical gradient, one pixel row
// at a time, and each item the heading recorded when its column was
// inserted, in the Song face, aligned by the recorded code. The item's own
// text and format are never drawn.

#include "controls/ListCtrlDefs.h"

#include <QHeaderView>

#include <string>
#include <vector>

class CPainterDC;

class CHeaderCtrlCl : public QHeaderView {
    Q_OBJECT

public:
    explicit CHeaderCtrlCl(QWidget* pParent = nullptr);
    ~CHeaderCtrlCl() override;

    // Stands in for HDM_LAYOUT: the default layout, then the height scaled
    // by m_fHeightScale. The list's item area starts at the scaled height.
    bool OnHeaderLayout(HDLAYOUT& layout) const;
    QSize sizeHint() const override;

    int GetItemCount() const;
    // Item nItem in client coordinates; the whole client height.
    RECT GetItemRect(int nItem) const;
    RECT GetClientRect() const;

    // The colour of pixel row nRow (0 at the top) of every gradient fill.
    COLORREF GradientColor(int nRow) const;
    static int GradientComponent(int nStart, int nStep, int nRow);
    // DT_LEFT, DT_CENTER or DT_RIGHT for column nColumn: "0", "1", "2";
    // any other code, and a column past the codes, centres.
    static UINT DrawTextFormat(const std::string& strAlignCodes, int nColumn);
    // Left- and right-aligned headings keep 3 pixels from the item's edge.
    static void ApplyHeadingInset(RECT& rc, UINT nFormat);
    static int ScaleHeight(int cy, float fScale);

    std::vector<std::string> m_astrHeadings;
    std::string m_strAlignCodes;
    int m_nGradRed = 171;
    int m_nGradGreen = 199;
    int m_nGradBlue = 235;
    int m_nGradStep = 0;
    float m_fHeightScale = 1.0F;
    int m_nFontHeight = 15;
    int m_nFontWidth = 0;
    COLORREF m_crText = 0;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void OnPaint();
    void PaintItem(CPainterDC& dc, int nItem) const;
    void PaintTrailingArea(CPainterDC& dc, int nCount) const;
    void GradientFill(CPainterDC& dc, const RECT& rc) const;
    bool DefaultLayout(HDLAYOUT& layout) const;
    int NaturalHeight() const;
};
