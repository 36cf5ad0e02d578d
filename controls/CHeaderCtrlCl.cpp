#include "controls/CHeaderCtrlCl.h"

#include "controls/CPainterDC.h"
#include "platform/CGdiFont.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>
#include <climits>

namespace {

constexpr int kHeadingInset = 3;

}  // namespace

CHeaderCtrlCl::CHeaderCtrlCl(QWidget* pParent)
    : QHeaderView(Qt::Horizontal, pParent)
{
    setSectionsMovable(false);
    setSectionsClickable(false);
    setHighlightSections(false);
    setStretchLastSection(false);
    // The one-pixel seams between items are never painted: they show the
    // background the window is erased with, the button face.
    viewport()->setBackgroundRole(QPalette::Button);
    viewport()->setAutoFillBackground(true);
}

CHeaderCtrlCl::~CHeaderCtrlCl() = default;

bool CHeaderCtrlCl::OnHeaderLayout(HDLAYOUT& layout) const
{
    if (!DefaultLayout(layout))
        return false;
    const int cy = ScaleHeight(layout.pwpos->cy, m_fHeightScale);
    layout.pwpos->cy = cy;
    layout.prc->top = cy;
    return true;
}

QSize CHeaderCtrlCl::sizeHint() const
{
    const QSize base = QHeaderView::sizeHint();
    RECT rcArea{0, 0, base.width(), 0};
    WINDOWPOS wpos;
    HDLAYOUT layout{&rcArea, &wpos};
    OnHeaderLayout(layout);
    return QSize(base.width(), wpos.cy);
}

int CHeaderCtrlCl::GetItemCount() const
{
    return count();
}

RECT CHeaderCtrlCl::GetItemRect(int nItem) const
{
    const int nLeft = sectionViewportPosition(nItem);
    return RECT{nLeft, 0, nLeft + sectionSize(nItem), viewport()->height()};
}

RECT CHeaderCtrlCl::GetClientRect() const
{
    return RECT{0, 0, viewport()->width(), viewport()->height()};
}

COLORREF CHeaderCtrlCl::GradientColor(int nRow) const
{
    return RGB(GradientComponent(m_nGradRed, m_nGradStep, nRow),
               GradientComponent(m_nGradGreen, m_nGradStep, nRow),
               GradientComponent(m_nGradBlue, m_nGradStep, nRow));
}

int CHeaderCtrlCl::GradientComponent(int nStart, int nStep, int nRow)
{
    const long long value = static_cast<long long>(nStart) - static_cast<long long>(nRow) * nStep;
    return static_cast<int>(std::clamp(value, 0LL, static_cast<long long>(INT_MAX)));
}

UINT CHeaderCtrlCl::DrawTextFormat(const std::string& strAlignCodes, int nColumn)
{
    if (nColumn < 0 || static_cast<std::size_t>(nColumn) >= strAlignCodes.size())
        return DT_CENTER;
    switch (strAlignCodes[static_cast<std::size_t>(nColumn)]) {
    case '0':
        return DT_LEFT;
    case '2':
        return DT_RIGHT;
    default:
        return DT_CENTER;
    }
}

void CHeaderCtrlCl::ApplyHeadingInset(RECT& rc, UINT nFormat)
{
    if (nFormat == DT_LEFT)
        rc.left += kHeadingInset;
    else if (nFormat == DT_RIGHT)
        rc.right -= kHeadingInset;
}

int CHeaderCtrlCl::ScaleHeight(int cy, float fScale)
{
    return static_cast<int>(static_cast<float>(cy) * fScale);
}

void CHeaderCtrlCl::paintEvent(QPaintEvent*)
{
    OnPaint();
}

// The base painting is never run: no borders, dividers or pressed look.
void CHeaderCtrlCl::OnPaint()
{
    QPainter painter(viewport());
    CPainterDC dc(painter);
    const int nCount = GetItemCount();
    for (int i = 0; i < nCount; ++i)
        PaintItem(dc, i);
    PaintTrailingArea(dc, nCount);
}

void CHeaderCtrlCl::PaintItem(CPainterDC& dc, int nItem) const
{
    RECT rc = GetItemRect(nItem);
    GradientFill(dc, RECT{rc.left + 1, rc.top, rc.right, rc.bottom});
    dc.SetBkModeTransparent();
    dc.SetTextColor(m_crText);
    const CGdiFont font(m_nFontHeight, m_nFontWidth, szSongFace);
    const QFont previous = dc.SelectFont(font.Font());
    const UINT nFormat = DrawTextFormat(m_strAlignCodes, nItem);
    ApplyHeadingInset(rc, nFormat);
    OffsetRect(rc, 0, CentringOffset(rc, dc.GetTextMetricsHeight()));
    // An item with no recorded heading shows its gradient only.
    if (static_cast<std::size_t>(nItem) < m_astrHeadings.size())
        dc.DrawText(m_astrHeadings[static_cast<std::size_t>(nItem)], rc, nFormat);
    dc.SelectFont(previous);
}

// Right of the last item; with no items the whole header.
void CHeaderCtrlCl::PaintTrailingArea(CPainterDC& dc, int nCount) const
{
    const RECT rcClient = GetClientRect();
    if (nCount == 0) {
        GradientFill(dc, rcClient);
        return;
    }
    const RECT rcLast = GetItemRect(nCount - 1);
    GradientFill(dc, RECT{rcLast.right + 1, rcLast.top, rcClient.right, rcLast.bottom});
}

void CHeaderCtrlCl::GradientFill(CPainterDC& dc, const RECT& rc) const
{
    for (int y = rc.top; y < rc.bottom; ++y)
        dc.FillRect(RECT{rc.left, y, rc.right, y + 1}, GradientColor(y - rc.top));
}

// What the control's own layout does: the header at the top of the area
// at its natural height, the rest of the area below it.
bool CHeaderCtrlCl::DefaultLayout(HDLAYOUT& layout) const
{
    if (layout.prc == nullptr || layout.pwpos == nullptr)
        return false;
    RECT& rc = *layout.prc;
    const int cy = NaturalHeight();
    *layout.pwpos = WINDOWPOS{rc.left, rc.top, rc.right - rc.left, cy};
    rc.top += cy;
    return true;
}

// Qt sizes a header without sections to nothing; the control keeps the
// height of an empty item instead, so the list's top edge does not jump.
int CHeaderCtrlCl::NaturalHeight() const
{
    const int cy = QHeaderView::sizeHint().height();
    if (cy > 0)
        return cy;
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.fontMetrics = fontMetrics();
    return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this).height();
}
