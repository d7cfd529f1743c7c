#pragma once

#include <QString>
#include <QUrl>

class QWidget;

// What the program asks of the desktop in front of the user: message boxes, file dialogs, the
// alert sound and opening a document. Everything goes through one replaceable object so that
// tests can answer dialogs instead of a person.
namespace ui {

enum class MessageIcon {
    information,
    warning,  // the "exclamation" icon
    critical, // the "stop" icon
};

struct FileDialogRequest {
    enum class Mode { open, save };
    Mode mode = Mode::open;
    QString filter;                // e.g. "Pulsewick list (*.pwk)"
    QString defaultSuffix;         // without the dot, e.g. "pwk"
    bool confirmOverwrite = false; // save: ask before an existing file is chosen
    QString directory = {};        // where the dialog starts; empty: wherever the desktop chooses
    QString fileName = {};         // the name offered at first (save: the current file's); may be empty
    QString title = {};            // the dialog's title; empty: the desktop's own ("Open", "Save As")
};

// The answer to "Save changes to NAME?".
enum class SaveAnswer { save, discard, cancel };
// The answer to whether a file that another program changed is to be overwritten.
enum class OverwriteAnswer { overwrite, cancel };

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // A modal message box with an OK button, captioned with ProgramName(); a detail text, when
    // given, is offered behind the box's details button.
    virtual void MessageBox(QWidget* parent, const QString& text, MessageIcon icon, const QString& detailText) = 0;
    void MessageBox(QWidget* parent, const QString& text, MessageIcon icon) { MessageBox(parent, text, icon, {}); }
    // Asks whether the edited list is to be saved before it is given up: Save, Discard or Cancel.
    virtual SaveAnswer AskSaveChanges(QWidget* parent, const QString& text) = 0;
    // Asks whether a file is to be overwritten: Overwrite or Cancel (the default).
    virtual OverwriteAnswer AskOverwrite(QWidget* parent, const QString& text) = 0;
    // The chosen path, or an empty string when the user cancelled.
    virtual QString GetFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // The desktop's alert sound.
    virtual void Beep() = 0;
    // Opens a document with the desktop's viewer; false when that failed.
    virtual bool OpenUrl(const QUrl& url) = 0;
    // A desktop notification (a passing bubble, never modal); nothing when the desktop has none.
    virtual void Notify(const QString& summary, const QString& body) = 0;
};

// The prompts in use: the desktop's own unless a replacement is installed.
IUserPrompts& Prompts();

// Installs a replacement (not owned; null restores the desktop's) and returns the previous one.
IUserPrompts* SetPrompts(IUserPrompts* prompts);

// The executable's file name without its extension, written as a name ("Pulsewick" for
// pulsewick): the caption of every message box.
QString ProgramName();

// The alert sound when asked for, then the message box.
void ShowMessage(QWidget* parent, const QString& text, MessageIcon icon, bool withSound = false);

} // namespace ui
