#include "app/WorkbookSaveDialog.h"

#include <wx/filedlg.h>

#include <array>

#include "text/TextCodec.h"
#include "export/WorkbookExport.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

namespace tarvex {
namespace {

// In the order of the dialog's file types.
const std::array<std::wstring, 2> TYPE_EXTENSIONS = {L".xls", L".xlsx"};
constexpr const wchar_t* FILE_TYPES = L"Excel Files(*.xls)|*.xls|Excel Workbook(*.xlsx)|*.xlsx";

int TypeIndexOf(const std::wstring& extension) {
    for (size_t i = 0; i < TYPE_EXTENSIONS.size(); ++i)
        if (TYPE_EXTENSIONS[i] == extension) return static_cast<int>(i);
    return 0;
}

std::wstring ExtensionOfType(int index) {
    return index >= 0 && index < static_cast<int>(TYPE_EXTENSIONS.size()) ? TYPE_EXTENSIONS[static_cast<size_t>(index)]
                                                                           : TYPE_EXTENSIONS[0];
}

#ifdef __WXGTK__
// GTK's chooser leaves the name alone when the type changes (Windows' own
// dialog changes it): the name's extension follows the type here.
extern "C" void OnTypeChosen(GObject* object, GParamSpec*, gpointer) {
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(object);
    GSList* filters = gtk_file_chooser_list_filters(chooser);
    const int index = g_slist_index(filters, gtk_file_chooser_get_filter(chooser));
    g_slist_free(filters);
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    if (!name) return;
    const std::wstring shown = WideFromUtf8(name);
    g_free(name);
    const std::wstring switched = WorkbookNameForType(shown, ExtensionOfType(index));
    if (switched != shown) gtk_file_chooser_set_current_name(chooser, Utf8FromWide(switched).c_str());
}
#endif

}  // namespace

SaveChoice AskWorkbookPath(wxWindow* parent, const wxString& title, const std::wstring& folder,
                           const std::wstring& initialName, const std::wstring& extension) {
    wxFileDialog dialog(parent, title, folder, wxString(), FILE_TYPES, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    dialog.SetFilterIndex(TypeIndexOf(extension));
    // Given after the type, so the name shows exactly as it was typed (GTK's
    // dialog would add the type's extension to a name given at creation).
    dialog.SetFilename(initialName);
#ifdef __WXGTK__
    g_signal_connect(dialog.GetHandle(), "notify::filter", G_CALLBACK(OnTypeChosen), nullptr);
#endif
    if (dialog.ShowModal() != wxID_OK) return {};
    return SaveChoice(dialog.GetPath().ToStdWstring(), ExtensionOfType(dialog.GetFilterIndex()));
}

}  // namespace tarvex
