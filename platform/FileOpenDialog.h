#pragma once

#include <functional>
#include <optional>
#include <string>

// What a file-open dialog is asked to show. The filter is written as pairs of a label and
// its patterns, all separated by '|' ("Text Files (*.txt)|*.txt;*.TXT").
struct OpenFileRequest {
    std::string title;
    std::string defaultExt;
    std::string filter;
    std::string initialDir;
};

// Every file-open dialog goes through one handler: the default shows a real dialog, tests
// install one that checks the request and returns a scripted choice (nullopt = cancelled).
// Like a message box, the real dialog aborts when asked for off the GUI thread; an installed
// handler is asked first and checks the thread itself.
using FileDialogHandler = std::function<std::optional<std::string>(const OpenFileRequest&)>;

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

// The file-open dialog control of a window.
class TOpenDialog {
public:
    std::string Title;
    std::string DefaultExt;
    std::string Filter;
    std::string InitialDir;
    std::string FileName;

    // Shows the dialog; true and FileName set when the user chose a file.
    bool Execute();
};

// The name filters a Qt file dialog is given for a '|'-separated filter: each label is kept
// as it stands and its patterns match their file names in any letter case.
std::string QtNameFiltersFor(const std::string& filter);

// The folder a file dialog starts in: the user's Documents folder, else the home folder.
std::string DefaultDocumentsFolder();
