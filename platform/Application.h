#pragma once

#include <functional>
#include <string>

// Screen cursors the program switches between.
enum TCursor : int { crDefault = 0, crHourGlass = -11 };

// The application object: its title, its own message box, the hint of the control under
// the mouse and the screen cursor. There is one, reached through Application.
class TApplication {
public:
    std::string Title() const { return title_; }
    void SetTitle(const std::string& title);

    // The application's message box: flags and result as with MessageBoxA.
    int MessageBox(const char* text, const char* caption, unsigned flags);

    // The hint of the control the mouse is over ("" when none). OnHint runs whenever it
    // changes. Controls give their hint as their tool tip.
    std::string Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    std::function<void()> OnHint;

    // Starts following the mouse over controls to keep Hint up to date. Needs the Qt
    // application object; called once after it exists.
    void TrackHints();

    // The screen cursor: crHourGlass shows the busy cursor over every window of the
    // program until it is set back.
    TCursor ScreenCursor() const { return cursor_; }
    void SetScreenCursor(TCursor cursor);

private:
    std::string title_;
    std::string hint_;
    TCursor cursor_ = crDefault;
    bool overriding_ = false;
    bool tracking_ = false;
};

extern TApplication* const Application;

// Shows the hourglass while it lives and restores the cursor that was there before.
class HourGlassCursor {
public:
    HourGlassCursor() : saved_(Application->ScreenCursor()) {
        Application->SetScreenCursor(crHourGlass);
    }
    ~HourGlassCursor() { Application->SetScreenCursor(saved_); }
    HourGlassCursor(const HourGlassCursor&) = delete;
    HourGlassCursor& operator=(const HourGlassCursor&) = delete;

private:
    TCursor saved_;
};
