#pragma once
// The list-view and header values the colour list controls are written in,
// with their Win32 numbers, and the small records that carry a row's drawing
// request, its height request and the header's layout request.

#include "platform/WinTypes.h"

#include <cstdint>

class QPainter;


// Column formats (LVCOLUMN::fmt).
constexpr int LVCFMT_LEFT = 0x0000;
constexpr int LVCFMT_RIGHT = 0x0001;
constexpr int LVCFMT_CENTER = 0x0002;

// Item fields (LVITEM::mask) and states.
constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_STATE = 0x0008;
constexpr UINT LVIS_SELECTED = 0x0002;

// Parts of an item for GetSubItemRect.
constexpr int LVIR_BOUNDS = 0;
constexpr int LVIR_LABEL = 2;

// Owner-draw request: what to draw and the item's state.
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODS_SELECTED = 0x0001;

// DrawText horizontal alignment; no other flag is used.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;

// The face both controls draw their text in: the Song typeface.
inline constexpr char szSongFace[] = "宋体";

// A rectangle with exclusive right and bottom edges, as GDI keeps it.
struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

inline void OffsetRect(RECT& rc, int dx, int dy)
{
    rc.left += dx;
    rc.right += dx;
    rc.top += dy;
    rc.bottom += dy;
}

// Vertical offset that centres text of the given cell height in rc;
// negative when the text is taller. Integer division truncates toward zero.
inline int CentringOffset(const RECT& rc, int nTextHeight)
{
    return (rc.bottom - rc.top - nTextHeight) / 2;
}

// One colour entry of the list: a cell (row, column) or, in the per-column
// lists, a column whose row is ignored.
struct ColorEntry {
    int nItem = 0;
    int nSubItem = 0;
    COLORREF crColor = 0;
};

// The request to draw one row. hDC is the painter the row is drawn with,
// rcItem the row in the painter's coordinates.
struct DRAWITEMSTRUCT {
    UINT itemID = 0;
    UINT itemAction = ODA_DRAWENTIRE;
    UINT itemState = 0;
    QPainter* hDC = nullptr;
    RECT rcItem;
};

// The request for the list's row height; itemHeight arrives holding the
// list's own height.
struct MEASUREITEMSTRUCT {
    UINT itemID = 0;
    UINT itemWidth = 0;
    UINT itemHeight = 0;
};

struct WINDOWPOS {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

// The header's layout request: the area available to the list (prc) and
// the header's position and size to fill in (pwpos).
struct HDLAYOUT {
    RECT* prc = nullptr;
    WINDOWPOS* pwpos = nullptr;
};
