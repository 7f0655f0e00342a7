#pragma once
// The measurement table on screen: a virtual list that reads every cell
// straight from the core's table model, so 65000 rows cost no copies.

#include <wx/listctrl.h>

#include "weighing/MeasurementTable.h"

namespace tarvex {

class CTableListCtrl : public wxListCtrl {
public:
    CTableListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                   const CMeasurementTable& table);

    // The six columns with their widths and alignments; headers come later.
    void InsertTableColumns();
    void SetHeaderText(int column, const wxString& text);
    wxString HeaderText(int column) const;

    void ShowRowAdded(int row);
    void ShowAllRows();
    // Remarks, the last column, takes whatever width the others leave.
    void FitLastColumn();
    // The columns' widths added up, the last at its least width.
    int ColumnsWidth() const;

    // How a cell's text is drawn: bytes no font shows as "\xHH", so every
    // byte of a damaged frame is visible and the remark stays on one line.
    static wxString ShownText(const std::wstring& cell);
    // Characters of a cell shown at most; more than a screen's width.
    static constexpr size_t MAX_SHOWN_CELL = 1000;  // of the cell's own characters

protected:
    wxString OnGetItemText(long item, long column) const override;

private:
    const CMeasurementTable& m_table;
    int m_lastColumnWidth = 0;  // the least width of the last column
};

}  // namespace tarvex
