#include "platform/win32_message_boxes.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void showBox(const char* text, const char* caption) {
    // Errors also go to standard error: a user who started the program from
    // a console, or redirected its output, expects to find the reason there.
    std::fprintf(stderr, "%s: %s", caption, text);
    const size_t length = std::strlen(text);
    if (length == 0 || text[length - 1] != '\n') {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
    MessageBoxA(nullptr, text, caption, MB_OK);
}

QuestionAnswer askBox(const char* text, const char* caption) {
    // Yes/No boxes have no Cancel button, so Escape normally picks nothing;
    // a box that could not be shown, or closed some other way, counts as
    // failed.
    switch (MessageBoxA(nullptr, text, caption, MB_YESNO | MB_ICONQUESTION)) {
        case IDYES:
            return QuestionAnswer::Yes;
        case IDNO:
            return QuestionAnswer::No;
        default:
            return QuestionAnswer::Failed;
    }
}

}  // namespace

void installWin32MessageBoxes() {
    setMessageHandler(showBox);
    setQuestionHandler(askBox);
}

void removeWin32MessageBoxes() {
    setMessageHandler(nullptr);
    setQuestionHandler(nullptr);
}
