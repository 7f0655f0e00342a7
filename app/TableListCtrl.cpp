#include "app/TableListCtrl.h"

#include <wx/settings.h>

#include <algorithm>

namespace tarvex {

CTableListCtrl::CTableListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size, const CMeasurementTable& table)
    : wxListCtrl(parent, id, pos, size,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES |
                     wxBORDER_SUNKEN),
      m_table(table) {}

namespace {

// The widths of the columns are given for the dialog font they were drawn
// with, whose average character is 6 pixels wide: they grow with the font
// as the rest of the layout does.
constexpr double REFERENCE_CHAR_WIDTH = 6.0;

// Texts a column must show whole, whatever the font.
constexpr const wchar_t* WIDEST_TEXT[COLUMN_COUNT] = {
    L"   65000", L"-9999.9999", L"LB:OZ", L"-00:-00:-00", L"00:00:00 00/00/0000", L""};

}  // namespace

void CTableListCtrl::InsertTableColumns() {
    const double scale = std::max(1.0, GetCharWidth() / REFERENCE_CHAR_WIDTH);
    const int padding = 2 * GetCharWidth();
    for (int i = 0; i < COLUMN_COUNT; ++i) {
        const ColumnSpec& spec = TABLE_COLUMNS[static_cast<size_t>(i)];
        const int width = std::max(static_cast<int>(spec.width * scale),
                                   GetTextExtent(WIDEST_TEXT[i]).x + padding);
        InsertColumn(i, wxString(),
                     spec.align == ColumnAlign::Centre ? wxLIST_FORMAT_CENTRE : wxLIST_FORMAT_LEFT, width);
    }
    m_lastColumnWidth = GetColumnWidth(COLUMN_COUNT - 1);
    FitLastColumn();
}

int CTableListCtrl::ColumnsWidth() const {
    int used = m_lastColumnWidth;
    for (int i = 0; i + 1 < GetColumnCount(); ++i) used += GetColumnWidth(i);
    return used;
}

void CTableListCtrl::FitLastColumn() {
    if (GetColumnCount() < COLUMN_COUNT) return;
    int used = 0;
    for (int i = 0; i + 1 < COLUMN_COUNT; ++i) used += GetColumnWidth(i);
    // Room for the vertical scroll bar, so no horizontal one is needed.
    const int room = GetClientSize().x - used - wxSystemSettings::GetMetric(wxSYS_VSCROLL_X);
    SetColumnWidth(COLUMN_COUNT - 1, std::max(m_lastColumnWidth, room));
}

wxString CTableListCtrl::ShownText(const std::wstring& cell) {
    // A remark of megabytes (a tampered journal) would make every redraw
    // crawl: the cell shows its start, the table keeps every byte.
    const size_t shownLength = std::min(cell.size(), MAX_SHOWN_CELL);
    std::wstring shown;
    shown.reserve(shownLength + 1);
    for (size_t i = 0; i < shownLength; ++i) {
        const wchar_t c = cell[i];
        // Bytes no font draws (controls, C1 controls, the no-break space and
        // the soft hyphen) show as \xHH, as does the backslash itself, so
        // every byte of a damaged frame is visible and told apart.
        if (c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || c == L'\\') {
            static const wchar_t hex[] = L"0123456789ABCDEF";
            shown += L"\\x";
            shown += hex[(c >> 4) & 0x0F];
            shown += hex[c & 0x0F];
        } else {
            shown += c;
        }
    }
    if (cell.size() > MAX_SHOWN_CELL) shown += L'\u2026';
    return shown;
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
    return ShownText(m_table.Cell(static_cast<int>(item), static_cast<int>(column)));
}

}  // namespace tarvex
