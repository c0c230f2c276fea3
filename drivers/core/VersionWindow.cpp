#include "VersionWindow.h"

#include "Backends.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace drivercore {

bool ShowVersionWindow(const DriverTraits& traits, const VersionFacts& facts) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QString::fromLatin1(traits.windowPrefix) + QStringLiteral("Version"));
    dialog.setWindowTitle(QString::fromLatin1(traits.busName) + QStringLiteral(" Driver Version"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    auto addFact = [&](const QString& name, const QString& label, const QString& value) {
        auto* text = new QLabel(value, &dialog);
        text->setObjectName(name);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label, text);
    };
    addFact(QStringLiteral("Label_Library"), QStringLiteral("Driver:"),
            QStringLiteral("%1 %2.%3")
                .arg(QString::fromLatin1(traits.libraryName))
                .arg(facts.major)
                .arg(facts.minor));
    if (facts.interfaceOpen) {
        const char* name = InterfaceTypeName(facts.interfaceType);
        addFact(QStringLiteral("Label_Interface"), QStringLiteral("Interface:"),
                name ? QString::fromLatin1(name) : QStringLiteral("Provided CAN port"));
        addFact(QStringLiteral("Label_BitRate"), QStringLiteral("Bit Rate:"),
                facts.bitRate ? QStringLiteral("%1 kbit/s").arg(facts.bitRate / 1000)
                              : QStringLiteral("not set"));
        addFact(QStringLiteral("Label_") + QString::fromLatin1(traits.addressName),
                QString::fromUtf8(traits.addressLabel), QString::number(facts.address));
        addFact(QStringLiteral("Label_State"), QStringLiteral("State:"),
                facts.online ? QStringLiteral("online") : QStringLiteral("offline"));
    } else {
        addFact(QStringLiteral("Label_Interface"), QStringLiteral("Interface:"),
                QStringLiteral("not open"));
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    dialog.exec();
    return true;
}

} // namespace drivercore
