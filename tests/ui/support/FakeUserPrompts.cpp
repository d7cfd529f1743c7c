#include "FakeUserPrompts.h"

#include <QStringList>

namespace {
// The next answer the test gave, or whenNone (what a user's Cancel gives) when none is left.
template <typename Answer>
Answer Next(std::deque<Answer>& answers, Answer whenNone) {
    if (answers.empty())
        return whenNone;
    Answer answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}
} // namespace

FakeUserPrompts::FakeUserPrompts() : m_previous(ui::SetPrompts(this)) {}

FakeUserPrompts::~FakeUserPrompts() {
    ui::SetPrompts(m_previous);
}

void FakeUserPrompts::MessageBox(QWidget*, const QString& text, ui::MessageIcon icon, const QString& detailText) {
    messages.push_back({ui::ProgramName(), text, icon, m_beepPending, detailText});
    m_beepPending = false;
    if (onMessage)
        onMessage(messages.back());
}

QString FakeUserPrompts::GetFileName(QWidget*, const ui::FileDialogRequest& request) {
    fileRequests.push_back(request);
    return Next(fileAnswers, QString());
}

ui::SaveAnswer FakeUserPrompts::AskSaveChanges(QWidget*, const QString& text) {
    saveQuestions.push_back(text);
    return Next(saveAnswers, ui::SaveAnswer::cancel);
}

ui::OverwriteAnswer FakeUserPrompts::AskOverwrite(QWidget*, const QString& text) {
    overwriteQuestions.push_back(text);
    return Next(overwriteAnswers, ui::OverwriteAnswer::cancel);
}

void FakeUserPrompts::Notify(const QString& summary, const QString& body) {
    notifications.push_back({summary, body});
}

void FakeUserPrompts::Beep() {
    ++beeps;
    m_beepPending = true;
}

bool FakeUserPrompts::OpenUrl(const QUrl& url) {
    openedUrls.push_back(url);
    return openUrlResult;
}

QStringList FakeUserPrompts::Texts() const {
    QStringList texts;
    for (const Message& m : messages)
        texts << m.text;
    return texts;
}
