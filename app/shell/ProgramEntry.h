#pragma once

#include "NodeType.h"

#include <string>

// The node type named by the first character of the argument text ("d"/"D" DeviceNet,
// "c"/"C" CANopen, "u"/"U" VARNIX); NodeTypeNone when the user must be asked.
TNodeType NodeTypeFromArgumentText(const std::string& argumentText);

// Asks with the node-type dialog; NodeTypeNone when the user cancelled.
TNodeType AskNodeType();

// The program: the node type from the arguments or the dialog, the main window and the
// About box, the message loop until the main window closes. Needs the Qt application
// object; always returns 0.
int RunZandrel(const std::string& argumentText);

// The argument text as the platform hands it over: the arguments after the program name,
// joined by blanks, Qt's own options already taken out.
std::string ArgumentText(int argc, char** argv);
