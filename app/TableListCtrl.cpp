#include "TableListCtrl.h"

namespace tarvex {

CTableListCtrl::CTableListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size, const CMeasurementTable& table)
    : wxListCtrl(parent, id, pos, size,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES |
                     wxBORDER_SUNKEN),
      m_table(table) {}

void CTableListCtrl::InsertTableColumns() {
    for (int i = 0; i < COLUMN_COUNT; ++i) {
        const ColumnSpec& spec = TABLE_COLUMNS[static_cast<size_t>(i)];
        InsertColumn(i, wxString(),
                     spec.align == ColumnAlign::Centre ? wxLIST_FORMAT_CENTRE : wxLIST_FORMAT_LEFT,
                     spec.width);
    }
}

void CTableListCtrl::SetHeaderText(int column, const wxString& text) {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT);
    item.SetText(text);
    SetColumn(column, item);
}

wxString CTableListCtrl::HeaderText(int column) const {
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT);
    GetColumn(column, item);
    return item.GetText();
}

void CTableListCtrl::ShowRowAdded(int row) {
    SetItemCount(m_table.RowCount());
    EnsureVisible(row);
}

void CTableListCtrl::ShowAllRows() {
    SetItemCount(m_table.RowCount());
    Refresh();
}

wxString CTableListCtrl::OnGetItemText(long item, long column) const {
    if (item < 0 || item >= m_table.RowCount() || column < 0 || column >= COLUMN_COUNT)
        return wxString();
    return wxString(m_table.Cell(static_cast<int>(item), static_cast<int>(column)));
}

}  // namespace tarvex
