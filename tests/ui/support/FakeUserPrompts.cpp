#include "FakeUserPrompts.h"

#include <QStringList>

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
    if (fileAnswers.empty())
        return {};
    QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

ui::SaveAnswer FakeUserPrompts::AskSaveChanges(QWidget*, const QString& text) {
    saveQuestions.push_back(text);
    if (saveAnswers.empty())
        return ui::SaveAnswer::cancel;
    const ui::SaveAnswer answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

ui::OverwriteAnswer FakeUserPrompts::AskOverwrite(QWidget*, const QString& text) {
    overwriteQuestions.push_back(text);
    if (overwriteAnswers.empty())
        return ui::OverwriteAnswer::cancel;
    const ui::OverwriteAnswer answer = overwriteAnswers.front();
    overwriteAnswers.pop_front();
    return answer;
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
