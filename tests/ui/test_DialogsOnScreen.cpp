// Every window of the program on a small screen at scale 2 (run at 1280x800 and at 1024x768 under
// Xvfb with openbox): each opens wholly on the screen, and the buttons that end it (for the main
// window: its column of buttons) lie on the screen and inside the window, where they can be pressed.
#include "MainDlgHarness.h"
#include "X11TestMain.h"

#include "CAboutDlg.h"
#include "CAlertPolicyDlg.h"
#include "CDialogBuilder.h"
#include "CHelpViewer.h"
#include "CHistoryChart.h"
#include "CItemDlg.h"
#include "CItemList.h"
#include "CMailAccount.h"
#include "CMailDlg.h"
#include "CPagerDlg.h"
#include "CProgressDlg.h"
#include "CSplashWindow.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace res;

namespace {

constexpr int kPatienceMs = 10000;

QSize g_screen(1280, 800);

// What is out of reach in a window: the window itself, or the text of a button.
QStringList OutOfReach(QWidget& window, const CMainDlg& main) {
    QStringList wrong;
    const QRect area = window.screen()->availableGeometry();
    if (!area.contains(window.frameGeometry()))
        wrong << "the window";
    int buttons = 0;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        const int id = CDialogBuilder::ControlId(button);
        const bool endsIt = id == IDOK || id == IDCANCEL || qobject_cast<QDialogButtonBox*>(button->parentWidget());
        const bool column = &window == &main && button->x() > main.ListView()->geometry().right();
        if (!button->isVisible() || !(endsIt || column))
            continue;
        ++buttons;
        const QRect inWindow(button->mapTo(&window, QPoint()), button->size());
        if (!window.rect().contains(inWindow) || !area.contains(QRect(button->mapToGlobal(QPoint()), button->size())))
            wrong << button->text();
    }
    if (buttons == 0 && !qobject_cast<CSplashWindow*>(&window))
        wrong << "no buttons";
    return wrong;
}

QWidget* NewWindow(const QList<QWidget*>& before) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!before.contains(window) && window->isVisible() && !qobject_cast<QMenu*>(window) &&
            !window->inherits("QTipLabel"))
            return window;
    }
    return nullptr;
}

} // namespace

TEST(DialogsOnScreen, EveryWindowAndTheButtonsThatEndItLieOnTheScreen) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->size(), g_screen / 2) << "run at scale 2";
    MainDlgHarness h;
    CMainDlg& main = h.Open();
    ui::SetPrompts(nullptr); // the desktop's own boxes and file dialog; the harness restores its fake
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    CItem entry;
    CItemList list;
    CMailAccount account;
    EntryRecord record;
    for (std::int64_t minute = 0; minute < 90; ++minute)
        record.samples.push_back({1'790'000'000'000 + minute * 60'000, minute % 7 != 3, 1200 + minute * 10});
    CSplashWindow::EnableSplashScreen(true);

    struct Case {
        const char* name;
        std::function<void()> open; // shows the window (and may wait in it until it is closed)
    };
    const Case cases[] = {
        {"main window", nullptr},
        {"connection", [&] { (new CItemDlg(entry, &main))->show(); }},
        {"pager", [&] { (new CPagerDlg(list, &main))->show(); }},
        {"e-mail", [&] { (new CMailDlg(list, &account, &main))->show(); }},
        {"about", [&] { (new CAboutDlg(&main))->show(); }},
        {"alert policy", [&] { (new CAlertPolicyDlg({}, &main))->show(); }},
        {"progress", [&] { (new CProgressDlg(&main))->Create(); }},
        {"history", [&] { (new CHistoryChart(QStringLiteral("alpha.invalid:80"), record, &main))->show(); }},
        {"manual", [&] { CHelpViewer::Open(QStringLiteral(PULSEWICK_MANUAL), &main); }},
        {"pop-up",
         [&] {
             ui::Prompts().MessageBox(&main, "One or more connection failed!", ui::MessageIcon::information,
                                      "alpha.invalid:80: connection refused");
         }},
        {"save question", [&] { ui::Prompts().AskSaveChanges(&main, QStringLiteral("Save changes to Untitled?")); }},
        {"overwrite question",
         [&] { ui::Prompts().AskOverwrite(&main, QStringLiteral("office.pwk was changed. Overwrite it?")); }},
        {"file dialog",
         [&] {
             ui::Prompts().GetFileName(&main, {ui::FileDialogRequest::Mode::save, "Pulsewick list (*.pwk)", "pwk"});
         }},
        {"splash", [&] { ShowSplash(&main); }},
    };
    for (const Case& c : cases) {
        const QList<QWidget*> before = QApplication::topLevelWidgets();
        QStringList wrong;
        bool looked = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* window = c.open ? NewWindow(before) : &main;
            if (!window || !QTest::qWaitForWindowExposed(window, 50))
                return;
            poll.stop();
            wrong = OutOfReach(*window, main);
            looked = true;
            if (window == &main)
                return;
            if (auto* dialog = qobject_cast<QDialog*>(window))
                dialog->reject();
            window->close();
        });
        poll.start(20);
        if (c.open)
            c.open();
        EXPECT_TRUE(QTest::qWaitFor([&] { return looked; }, kPatienceMs)) << c.name << " did not show";
        EXPECT_TRUE(wrong.isEmpty()) << c.name << ": out of reach: " << wrong.join(", ").toStdString();
    }
}

int main(int argc, char* argv[]) {
    // The screen's size in pixels ("1024x768") comes first; the rest is the tests'.
    if (argc > 1) {
        const QStringList size = QString::fromLatin1(argv[1]).split(QLatin1Char('x'));
        if (size.size() == 2) {
            g_screen = QSize(size[0].toInt(), size[1].toInt());
            argv[1] = argv[0];
            return RunTestsUnderX11(argc - 1, argv + 1, g_screen);
        }
    }
    return RunTestsUnderX11(argc, argv, g_screen);
}
