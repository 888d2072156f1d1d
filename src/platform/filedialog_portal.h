// filedialog_portal: the desktop's open and save dialogs, asked for through
// the XDG desktop portal (org.freedesktop.portal.FileChooser) on the session
// bus. A dialog runs on a worker thread with its own GLib main context, so the
// interface keeps drawing; the caller polls once per frame for the outcome.
// At most one dialog is open at a time. Logs under "dialog".
//
// All functions are meant for the main thread. Test switch: with
// KORVELLE_NO_PORTAL set (to anything) no portal is asked and every dialog
// ends without files.
#pragma once

#include <string>
#include <vector>

namespace platform {

// One entry of the dialog's filter menu.
struct FileFilter {
  std::string name;                   // label shown in the menu
  std::vector<std::string> patterns;  // glob patterns such as "*.jpg"; none: left out
};

// Outcome codes of pollDialog.
constexpr int kDialogIdle = 0;     // nothing to report
constexpr int kDialogOpen = 1;     // a dialog is still open
constexpr int kDialogChosen = 2;   // files were chosen (or a forced answer was taken)
constexpr int kDialogNoFiles = 3;  // cancelled, timed out, or no dialog could be shown

// --- Starting a dialog (returns at once; ignored while a dialog is open) ---

// Asks for existing files. An empty folder lets the desktop choose where to start.
void startOpenDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& folder, bool multiple);
// Asks for a place to save, proposing the file name `name` (empty: none).
void startSaveDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& folder, const std::string& name);

// --- Collecting the outcome (never blocks for the dialog) ---

// Outcome code; with kDialogChosen the chosen local paths are copied into
// *paths when paths is given. The outcome of a dialog is reported once.
int pollDialog(std::vector<std::string>* paths);
// The same, handing out only the first chosen path.
int pollDialog(std::string* path);
// Program end: closes an open dialog and joins its worker; blocks until the
// worker has ended. A dialog started afterwards ends at once without files.
void stopFileDialog();
// True once any portal call has been accepted in this run. A dialog that ends
// without files while this is still false means "no portal", not "cancelled".
bool fileDialogUsesPortal();

// --- Injected answers (automated runs) ---

// The next poll returns these paths with kDialogChosen at once, even while a
// dialog is open; an empty list makes it return kDialogNoFiles.
void setForcedDialogResult(const std::vector<std::string>& paths);
// The same for one path.
void setForcedDialogResult(const std::string& path);

// --- Tests only ---

// How long an unanswered dialog stays open before it counts as cancelled
// (180 s unless changed here). Takes effect for dialogs started afterwards.
void setDialogTimeoutForTesting(int milliseconds);

}  // namespace platform
