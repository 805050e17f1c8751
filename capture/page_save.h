// The "Save..." buttons of the two carousel pages: ask for a folder, write what the last capture
// rebuilt below it, and say in a message box what was written. Nothing that exists is replaced
// without asking, unless automation has settled the answer (the command line with or without --force):
// then the save replaces or keeps from the start and puts no question.
#pragma once

#include <string>

namespace capture {

class CDSMCCDlg;

enum class SaveKind {
  object_carousels,  // the object carousel page: DIR/object/...
  data_carousels,    // the data carousel page: DIR/data/...
};

// Gives both pages of the analysis window their save action.
void wire_save_buttons(CDSMCCDlg& dialog);

// One press of "Save..." on the page of that kind. Returns the folder written to, or "" when the user
// cancelled the folder chooser.
std::string save_from_page(CDSMCCDlg& dialog, SaveKind kind);

// Everything the last capture rebuilt, both kinds, below `dir` without a question (the command line's
// --save): one log line and one summary for the whole save. `ok` says whether it was written whole.
std::string save_whole_capture(CDSMCCDlg& dialog, const std::string& dir, bool force, bool& ok);

}  // namespace capture
