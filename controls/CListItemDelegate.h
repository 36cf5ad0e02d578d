#pragma once
// Carries the list's row-height request to CListCtrlCl::MeasureItem, the
// way the owner-draw list reflects WM_MEASUREITEM back to itself. Rows are
// drawn by the list, so the delegate paints nothing of its own.

#include <QStyledItemDelegate>

class CListCtrlCl;

class CListItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit CListItemDelegate(CListCtrlCl& list);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const CListCtrlCl& m_list;
};
