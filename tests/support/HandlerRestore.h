#pragma once

#include <gtest/gtest.h>
#include <utility>

// What a scripted handler (Sleep, message boxes, file dialog) does when it ends: it puts back
// the handler it replaced through set. When the handler it takes out is not its own (isMine
// says), a later script is still installed: that fails the test, and the later handler is
// left in place. Scripts end in the reverse order of their start.
template <typename Function, typename Set, typename IsMine>
void RestoreReplacedHandler(Set set, Function previous, IsMine isMine, const char* what) {
    Function replaced = set(std::move(previous));
    if (!isMine(replaced)) {
        ADD_FAILURE() << what << " ended while another handler was installed (scripts end in "
                      << "the reverse order of their start)";
        set(std::move(replaced));
    }
}
