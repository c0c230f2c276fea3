#include "FileOpenDialog.h"

#include "ReplaceableHandler.h"
#include "Thread.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <cctype>
#include <vector>

namespace {

using DialogHandler = ReplaceableHandler<std::optional<std::string>(const OpenFileRequest&)>;

DialogHandler& dialogHandler() {
    static DialogHandler handler;
    return handler;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// "*.H86" -> "*.[hH]86": a pattern that matches the name in any letter case.
std::string anyCasePattern(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
        char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (lower != upper)
            out += std::string("[") + lower + upper + "]";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> showRealDialog(const OpenFileRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title),
                       QString::fromStdString(request.initialDir));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    dialog.setNameFilter(QString::fromStdString(QtNameFiltersFor(request.filter)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst().toStdString();
}

} // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
    return dialogHandler().Set(std::move(handler));
}

// As with message boxes (MessageBox.cpp): the handler is asked first and checks the thread
// itself; the GUI thread is required only when the real dialog is about to be shown.
bool TOpenDialog::Execute() {
    OpenFileRequest request{Title, DefaultExt, Filter, InitialDir};
    std::optional<std::string> chosen;
    if (FileDialogHandler handler = dialogHandler().Get()) {
        chosen = handler(request);
    } else {
        RequireGuiThread("TOpenDialog::Execute");
        chosen = showRealDialog(request);
    }
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}

std::string QtNameFiltersFor(const std::string& filter) {
    auto parts = split(filter, '|');
    std::string result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string patterns;
        for (const auto& pattern : split(parts[i + 1], ';')) {
            if (pattern.empty())
                continue;
            if (!patterns.empty())
                patterns += ' ';
            patterns += anyCasePattern(pattern);
        }
        if (!result.empty())
            result += ";;";
        result += parts[i] + " (" + patterns + ")";
    }
    return result;
}

std::string DefaultDocumentsFolder() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QDir(documents).exists())
        return documents.toStdString();
    return QDir::homePath().toStdString();
}
