#include "platform/messages.h"

#include <cstdio>

namespace {

void printMessage(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

QuestionAnswer refuseQuestion(const char* text, const char* caption) {
    printMessage(text, caption);
    return QuestionAnswer::Failed;
}

MessageHandler messageHandler = printMessage;
QuestionHandler questionHandler = refuseQuestion;

}  // namespace

void showMessage(const char* text, const char* caption) { messageHandler(text, caption); }

QuestionAnswer askQuestion(const char* text, const char* caption) {
    return questionHandler(text, caption);
}

void setMessageHandler(MessageHandler handler) {
    messageHandler = handler ? handler : printMessage;
}

void setQuestionHandler(QuestionHandler handler) {
    questionHandler = handler ? handler : refuseQuestion;
}
