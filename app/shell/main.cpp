#include "ProgramEntry.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv); // takes Qt's own options out of argv
    return RunZandrel(ArgumentText(argc, argv));
}
