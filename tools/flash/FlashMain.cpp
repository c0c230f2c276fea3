// zandrel-flash: the program's updates without its window.

#include "FlashRun.h"

#include <QByteArray>
#include <QCoreApplication>
#include <iostream>
#include <unistd.h>

namespace {

// Qt's notes about its own set-up say nothing to the user of this tool.
void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if ((type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) &&
        message.startsWith(QStringLiteral("QStandardPaths: ")))
        return;
    std::cerr << message.toStdString() << std::endl;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // No window and no screen: the update procedures ask and tell on the terminal.
    qInstallMessageHandler(qtMessage);
    QCoreApplication app(argc, argv);
    FlashStreams streams;
    streams.in = ::isatty(STDIN_FILENO) ? &std::cin : nullptr;
    streams.out = &std::cout;
    streams.err = &std::cerr;
    streams.errIsTerminal = ::isatty(STDERR_FILENO) != 0;
    return RunFlash(arguments, streams);
}
