#include "controls/CListItemDelegate.h"

#include "controls/CListCtrlCl.h"

#include <algorithm>

CListItemDelegate::CListItemDelegate(CListCtrlCl& list)
    : QStyledItemDelegate(&list)
    , m_list(list)
{
}

QSize CListItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QSize base = QStyledItemDelegate::sizeHint(option, index);
    MEASUREITEMSTRUCT mis;
    mis.itemID = static_cast<UINT>(std::max(index.row(), 0));
    mis.itemWidth = static_cast<UINT>(std::max(base.width(), 0));
    mis.itemHeight = static_cast<UINT>(std::max(base.height(), 0));
    m_list.MeasureItem(mis);
    return QSize(static_cast<int>(mis.itemWidth), static_cast<int>(mis.itemHeight));
}
