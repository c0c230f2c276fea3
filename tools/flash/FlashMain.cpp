// zandrel-flash: the program's updates without its window.

#include "FlashRun.h"

#include <QApplication>
#include <QByteArray>
#include <iostream>
#include <unistd.h>

namespace {

// Qt's notes about the screen no one sees say nothing to the user of this tool.
void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) {
        if (message.startsWith(QStringLiteral("This plugin does not support")) ||
            message.startsWith(QStringLiteral("QStandardPaths: ")))
            return;
    }
    std::cerr << message.toStdString() << std::endl;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The download window's sequences run on a screen of their own that no one sees.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(qtMessage);
    QApplication app(argc, argv);
    FlashStreams streams;
    streams.in = ::isatty(STDIN_FILENO) ? &std::cin : nullptr;
    streams.out = &std::cout;
    streams.err = &std::cerr;
    streams.errIsTerminal = ::isatty(STDERR_FILENO) != 0;
    return RunFlash(arguments, streams);
}
