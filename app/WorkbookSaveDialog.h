#pragma once
// The save dialog for a workbook: the file type chosen decides the extension
// of a name typed without one, and choosing another type changes the
// extension shown in the name, as the desktop's own save dialogs do.

#include <wx/string.h>

#include <string>

#include "session/SessionUi.h"

class wxWindow;

namespace tarvex {

SaveChoice AskWorkbookPath(wxWindow* parent, const wxString& title, const std::wstring& folder,
                           const std::wstring& initialName, const std::wstring& extension);

}  // namespace tarvex
