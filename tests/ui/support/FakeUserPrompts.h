#pragma once

#include "UserPrompts.h"

#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <ostream>
#include <vector>

// Answers the program's message boxes and file dialogs in tests. Installs itself for its
// lifetime; records every message and request.
class FakeUserPrompts final : public ui::IUserPrompts {
public:
    struct Message {
        QString caption;
        QString text;
        ui::MessageIcon icon;
        bool afterBeep; // the alert sound came right before it
        QString detailText;
    };

    FakeUserPrompts();
    ~FakeUserPrompts() override;
    FakeUserPrompts(const FakeUserPrompts&) = delete;
    FakeUserPrompts& operator=(const FakeUserPrompts&) = delete;

    using ui::IUserPrompts::MessageBox;
    void MessageBox(QWidget* parent, const QString& text, ui::MessageIcon icon, const QString& detailText) override;
    ui::SaveAnswer AskSaveChanges(QWidget* parent, const QString& text) override;
    ui::OverwriteAnswer AskOverwrite(QWidget* parent, const QString& text) override;
    void Notify(const QString& summary, const QString& body) override;
    QString GetFileName(QWidget* parent, const ui::FileDialogRequest& request) override;
    void Beep() override;
    bool OpenUrl(const QUrl& url) override;

    // Texts of the messages shown so far, in order.
    QStringList Texts() const;

    std::vector<Message> messages;
    int beeps = 0;
    std::deque<QString> fileAnswers; // next answers of file dialogs; none left = Cancel
    std::vector<ui::FileDialogRequest> fileRequests;
    std::vector<QUrl> openedUrls;
    bool openUrlResult = true;
    std::vector<QString> saveQuestions;               // texts of "Save changes to ...?" asked so far
    std::deque<ui::SaveAnswer> saveAnswers;           // next answers; none left = Cancel
    std::vector<QString> overwriteQuestions;          // texts of "... Overwrite it?" asked so far
    std::deque<ui::OverwriteAnswer> overwriteAnswers; // next answers; none left = Cancel
    std::vector<QStringList> notifications;           // summary and body of each desktop notification
    // Runs while a message box is "open" (e.g. to look at the window behind it).
    std::function<void(const Message&)> onMessage;

private:
    ui::IUserPrompts* m_previous;
    bool m_beepPending = false;
};

// Readable failure output for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
