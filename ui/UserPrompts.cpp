#include "UserPrompts.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "DesktopNotification.h"

namespace ui {
namespace {

constexpr const char* kFallbackProgramName = "pulsewick";
// The questions' buttons, each with a key of its own.
constexpr const char* kOverwriteButton = "&Overwrite";
constexpr const char* kSaveButton = "&Save";
constexpr const char* kDiscardButton = "&Discard";
constexpr const char* kCancelButton = "&Cancel";
constexpr const char* kOpener = "xdg-open";
constexpr int kOpenerVerdictMs = 5000;

class DesktopPrompts final : public IUserPrompts {
public:
    using IUserPrompts::MessageBox;
    void MessageBox(QWidget* parent, const QString& text, MessageIcon icon, const QString& detailText) override {
        QMessageBox box(ToQt(icon), ProgramName(), text, QMessageBox::Ok, parent);
        ModalTo(box, parent);
        WrapText(box);
        if (!detailText.isEmpty())
            box.setDetailedText(detailText);
        box.exec();
    }

    SaveAnswer AskSaveChanges(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, ProgramName(), text,
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
        ModalTo(box, parent);
        WrapText(box);
        box.setDefaultButton(QMessageBox::Save);
        box.button(QMessageBox::Save)->setText(QString::fromLatin1(kSaveButton));
        box.button(QMessageBox::Discard)->setText(QString::fromLatin1(kDiscardButton));
        box.button(QMessageBox::Cancel)->setText(QString::fromLatin1(kCancelButton));
        switch (box.exec()) {
        case QMessageBox::Save:
            return SaveAnswer::save;
        case QMessageBox::Discard:
            return SaveAnswer::discard;
        default:
            return SaveAnswer::cancel; // Escape and the close box too
        }
    }

    OverwriteAnswer AskOverwrite(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, ProgramName(), text, QMessageBox::Cancel, parent);
        WrapText(box);
        box.button(QMessageBox::Cancel)->setText(QString::fromLatin1(kCancelButton));
        const QAbstractButton* overwrite =
            box.addButton(QString::fromLatin1(kOverwriteButton), QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel); // losing the other program's change takes a deliberate choice
        box.exec();
        return box.clickedButton() == overwrite ? OverwriteAnswer::overwrite : OverwriteAnswer::cancel;
    }

    void Notify(const QString& summary, const QString& body) override { SendDesktopNotification(summary, body); }

    QString GetFileName(QWidget* parent, const FileDialogRequest& request) override {
        QFileDialog dialog(parent);
        ModalTo(dialog, parent);
        if (!request.title.isEmpty())
            dialog.setWindowTitle(request.title);
        if (!request.directory.isEmpty())
            dialog.setDirectory(request.directory);
        if (!request.fileName.isEmpty())
            dialog.selectFile(request.fileName);
        const bool save = request.mode == FileDialogRequest::Mode::save;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // A typed name that does not exist is accepted; opening it then reports the failure.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(request.filter);
        dialog.setDefaultSuffix(request.defaultSuffix);
        if (!request.confirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    void Beep() override { QApplication::beep(); }

    bool OpenUrl(const QUrl& url) override {
        // The desktop's opener starts whatever it finds and reports with its exit status
        // whether it found anything: an opener that fails within its first moments failed.
        auto* opener = new QProcess(QCoreApplication::instance());
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        opener->start(QString::fromLatin1(kOpener), {url.toString()});
        if (!opener->waitForStarted()) {
            opener->deleteLater();
            return false;
        }
        QEventLoop wait;
        QTimer::singleShot(kOpenerVerdictMs, &wait, &QEventLoop::quit);
        QObject::connect(opener, &QProcess::finished, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        if (opener->state() != QProcess::NotRunning)
            return true; // still running: it has started something that takes its time
        return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
    }

private:
    // A box asked for by a window blocks that window only, so the tray icon keeps answering.
    static void ModalTo(QDialog& dialog, QWidget* parent) {
        dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    }

    // Qt wraps only rich text; a long plain text (a path, a server's answer) would widen the box past
    // the screen, where it is cut off.
    static void WrapText(QMessageBox& box) {
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            label->setWordWrap(true);
    }

    static QMessageBox::Icon ToQt(MessageIcon icon) {
        switch (icon) {
        case MessageIcon::information:
            return QMessageBox::Information;
        case MessageIcon::warning:
            return QMessageBox::Warning;
        case MessageIcon::critical:
            return QMessageBox::Critical;
        }
        return QMessageBox::NoIcon;
    }
};

DesktopPrompts g_desktopPrompts;
IUserPrompts* g_prompts = &g_desktopPrompts;

} // namespace

IUserPrompts& Prompts() {
    return *g_prompts;
}

IUserPrompts* SetPrompts(IUserPrompts* prompts) {
    IUserPrompts* previous = g_prompts;
    g_prompts = prompts ? prompts : &g_desktopPrompts;
    return previous;
}

QString ProgramName() {
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    QString name = QFileInfo(path).completeBaseName();
    if (name.isEmpty())
        name = QString::fromLatin1(kFallbackProgramName);
    // Executables are named in lower case on this platform; a caption names the program.
    name[0] = name[0].toUpper();
    return name;
}

void ShowMessage(QWidget* parent, const QString& text, MessageIcon icon, bool withSound) {
    if (withSound)
        Prompts().Beep();
    Prompts().MessageBox(parent, text, icon);
}

} // namespace ui
