#include "platform/sdl_message_boxes.h"

#include <SDL.h>

#include <cstdio>

namespace {

constexpr int yesButton = 1;
constexpr int noButton = 2;

void showBox(const char* text, const char* caption) {
    // Errors also go to the terminal: the box may be hidden behind a
    // full-screen window, and a user who started the demo from a shell
    // expects to find the reason there.
    std::fprintf(stderr, "%s: %s", caption, text);
    const size_t length = SDL_strlen(text);
    if (length == 0 || text[length - 1] != '\n') {
        std::fputc('\n', stderr);
    }
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0,
         "OK"},
    };
    const SDL_MessageBoxData box{
        SDL_MESSAGEBOX_INFORMATION, nullptr, caption, text, 1, buttons, nullptr};
    int pressed = -1;
    SDL_ShowMessageBox(&box, &pressed);
}

QuestionAnswer askBox(const char* text, const char* caption) {
    // Yes is the default, as Return picks it; there is no Cancel, so Escape
    // picks nothing.
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, yesButton, "Yes"},
        {0, noButton, "No"},
    };
    const SDL_MessageBoxData box{SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT,
                                 nullptr,
                                 caption,
                                 text,
                                 2,
                                 buttons,
                                 nullptr};
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        return QuestionAnswer::Failed;
    }
    // A box closed without a button (by the window manager, say) counts as
    // a failed one.
    switch (pressed) {
        case yesButton:
            return QuestionAnswer::Yes;
        case noButton:
            return QuestionAnswer::No;
        default:
            return QuestionAnswer::Failed;
    }
}

}  // namespace

void installSdlMessageBoxes() {
    setMessageHandler(showBox);
    setQuestionHandler(askBox);
}

void removeSdlMessageBoxes() {
    setMessageHandler(nullptr);
    setQuestionHandler(nullptr);
}
