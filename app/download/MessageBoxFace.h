#pragma once

#include "UpdateFace.h"

// The part of a window's face that asks and tells with the program's message boxes: the
// system box without owner window or the application's box, as each question or notice
// names it.
class MessageBoxFace : public UpdateFace {
public:
    int Ask(const UpdateQuestion& question) override;
    void Tell(const UpdateNotice& notice) override;
};
