#include "app/UiProbe.h"

#include <wx/control.h>
#include <wx/stattext.h>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/tooltip.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/MyMsg.h"
#include "files/WholeFile.h"
#include "text/TextCodec.h"

#ifdef __WXGTK__
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#endif

namespace tarvex {
namespace {

constexpr long PROBE_MAX_ROWS = 200;

std::string Json(const wxString& text) {
    std::string out = "\"";
    for (const char c : Utf8FromWide(text.ToStdWstring())) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Rect(const wxRect& r) {
    return "[" + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
           std::to_string(r.height) + "]";
}

std::string Control(wxWindow* w) {
    wxString words = wxControl::RemoveMnemonics(w->GetLabel());
    words.Replace(wxString(wxUniChar(WORD_JOINER)), wxString());
    std::string text = "{\"id\":" + std::to_string(w->GetId()) + ",\"class\":" +
                       Json(w->GetClassInfo()->GetClassName()) + ",\"label\":" + Json(words) +
                       ",\"rect\":" + Rect(w->GetScreenRect()) +
                       ",\"enabled\":" + (w->IsEnabled() ? "true" : "false");
    if (auto* radio = dynamic_cast<wxRadioButton*>(w)) text += std::string(",\"checked\":") + (radio->GetValue() ? "true" : "false");
    if (auto* box = dynamic_cast<wxCheckBox*>(w)) text += std::string(",\"checked\":") + (box->GetValue() ? "true" : "false");
    if (const wxToolTip* tip = w->GetToolTip()) text += ",\"tooltip\":" + Json(tip->GetTip());
    // Whether a text shows whole: as tall and as wide as the toolkit draws it.
    if (auto* label = dynamic_cast<wxStaticText*>(w)) {
        const wxSize natural = NaturalTextSize(label, w->GetSize().x);
        text += std::string(",\"fits\":") + (natural.x <= w->GetSize().x && natural.y <= w->GetSize().y ? "true" : "false");
    }
    if (auto* choice = dynamic_cast<wxChoice*>(w)) {
        text += ",\"selection\":" + std::to_string(choice->GetSelection()) + ",\"items\":[";
        for (unsigned i = 0; i < choice->GetCount(); ++i) text += (i ? "," : "") + Json(choice->GetString(i));
        text += "]";
    }
    if (auto* list = dynamic_cast<wxListCtrl*>(w)) {
        const long rows = list->GetItemCount();
        text += ",\"rows\":" + std::to_string(rows) + ",\"columns\":[";
        for (int c = 0; c < list->GetColumnCount(); ++c) {
            wxListItem item;
            item.SetMask(wxLIST_MASK_TEXT);
            list->GetColumn(c, item);
            text += (c ? "," : "") + std::string("[") + Json(item.GetText()) + "," +
                    std::to_string(list->GetColumnWidth(c)) + "]";
        }
        text += "],\"last\":[";
        for (int c = 0; rows > 0 && c < list->GetColumnCount(); ++c)
            text += (c ? "," : "") + Json(list->GetItemText(rows - 1, c));
        text += "]";
        // Every cell of a short table, so a test can compare whole tables.
        if (rows <= PROBE_MAX_ROWS) {
            text += ",\"cells\":[";
            for (long r = 0; r < rows; ++r) {
                text += r ? ",[" : "[";
                for (int c = 0; c < list->GetColumnCount(); ++c)
                    text += (c ? "," : "") + Json(list->GetItemText(r, c));
                text += "]";
            }
            text += "]";
        }
    }
    return text + "}";
}

void AddControls(wxWindow* parent, std::string& out) {
    for (wxWindow* child : parent->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown()) continue;
        if (out.back() != '[') out += ",";
        out += Control(child);
        AddControls(child, out);
    }
}

#ifdef __WXGTK__
// The file type list of a GTK file dialog: the shown combo box whose entry
// names a workbook type.
void FindTypeList(GtkWidget* widget, gpointer found) {
    auto** list = static_cast<GtkWidget**>(found);
    if (*list || !gtk_widget_get_mapped(widget)) return;
    if (GTK_IS_COMBO_BOX_TEXT(widget)) {
        gchar* active = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(widget));
        const bool types = active && g_str_has_prefix(active, "Excel");
        g_free(active);
        if (types) *list = widget;
    } else if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(GTK_CONTAINER(widget), FindTypeList, found);
    }
}

wxRect ScreenRectOf(GtkWidget* widget) {
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, originX = 0, originY = 0;
    gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    GtkAllocation size;
    gtk_widget_get_allocation(widget, &size);
    return wxRect(originX + x, originY + y, size.width, size.height);
}
#endif

// A save dialog's name field and file type, for the tests' checks.
std::string FileDialogState(wxWindow* top) {
    std::string text;
#ifdef __WXGTK__
    auto* dialog = dynamic_cast<wxFileDialog*>(top);
    if (!dialog) return text;
    GtkWidget* widget = static_cast<GtkWidget*>(dialog->GetHandle());
    gchar* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(widget));
    text += ",\"file_name\":" + Json(wxString::FromUTF8(name ? name : ""));
    g_free(name);
    text += ",\"file_type\":" + std::to_string(dialog->GetFilterIndex());
    GtkWidget* types = nullptr;
    gtk_container_forall(GTK_CONTAINER(widget), FindTypeList, &types);
    if (types) text += ",\"type_rect\":" + Rect(ScreenRectOf(types));
#else
    (void)top;
#endif
    return text;
}

// The control of this window that has the keyboard (the table, when it is
// the table's inner window).
std::string FocusOf(wxWindow* top) {
#ifdef __WXGTK__
    // GTK's own word: wx is not told when Tab moves into a drop-down list.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top->GetHandle()));
    for (GtkWidget* g = focus; g; g = gtk_widget_get_parent(g))
        for (wxWindow* child : top->GetChildren())
            if (static_cast<GtkWidget*>(child->GetHandle()) == g) return ",\"focus\":" + std::to_string(child->GetId());
#else
    for (wxWindow* w = wxWindow::FindFocus(); w; w = w->GetParent())
        if (w->GetParent() == top) return ",\"focus\":" + std::to_string(w->GetId());
#endif
    return ",\"focus\":null";
}

}  // namespace

// The X window of a top-level window, for the tests' keyboard focus.
unsigned long XWindowOf(wxWindow* window) {
#ifdef __WXGTK__
    GtkWidget* widget = static_cast<GtkWidget*>(window->GetHandle());
    GdkWindow* gdk = widget ? gtk_widget_get_window(widget) : nullptr;
    if (gdk && GDK_IS_X11_WINDOW(gdk)) return gdk_x11_window_get_xid(gdk);
#endif
    (void)window;
    return 0;
}

CUiProbe::~CUiProbe() {
    if (!m_path.empty()) Unregister();
}

int CUiProbe::Enter(wxDialog* dialog) {
    m_modal.push_back(dialog);
    return wxID_NONE;
}

void CUiProbe::Exit(wxDialog* dialog) { std::erase(m_modal, dialog); }

void CUiProbe::StartIfAsked() {
    const char* path = std::getenv("TARVEX_UI_PROBE");
    if (!path || !*path) return;
    m_path = path;
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, &CUiProbe::OnTimer, this);
    m_timer.Start(50);
    Register();
}

std::string CUiProbe::Describe() const {
    std::string out = "{\"windows\":[";
    bool first = true;
    std::vector<wxWindow*> tops(wxTopLevelWindows.begin(), wxTopLevelWindows.end());
    for (wxDialog* dialog : m_modal)
        if (std::find(tops.begin(), tops.end(), dialog) == tops.end()) tops.push_back(dialog);
    for (wxWindow* top : tops) {
        if (!top->IsShown()) continue;
        auto* tlw = static_cast<wxTopLevelWindow*>(top);
        auto* dialog = dynamic_cast<wxDialog*>(top);
        out += (first ? "" : ",") + std::string("{\"title\":") + Json(tlw->GetTitle()) +
               ",\"class\":" + Json(top->GetClassInfo()->GetClassName()) +
               ",\"xid\":" + std::to_string(XWindowOf(top)) +
               ",\"rect\":" + Rect(top->GetScreenRect()) +
               ",\"client\":" + Rect(wxRect(top->ClientToScreen(wxPoint(0, 0)), top->GetClientSize())) +
               ",\"modal\":" + (dialog && dialog->IsModal() ? "true" : "false") +
               ",\"active\":" + (tlw->IsActive() ? "true" : "false") + FocusOf(top) + FileDialogState(top) +
               ",\"controls\":[";
        AddControls(top, out);
        out += "]}";
        first = false;
    }
    return out + "]}\n";
}

void CUiProbe::OnTimer(wxTimerEvent&) {
    // A bench or a measurement that has found what it needs pauses the
    // probe while a ".stop" file lies beside it, so its figures are the
    // program's own.
    std::error_code ignored;
    if (std::filesystem::exists(m_path + ".stop", ignored)) return;
    std::string now = Describe();
    if (now == m_last) return;
    // A reader never sees half of it; a power cut may lose it, it is
    // written anew with the next change anyway.
    WriteWholeFile(m_path, now, {false, false});
    m_last = std::move(now);
}

}  // namespace tarvex
