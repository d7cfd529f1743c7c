// Under a real X server and window manager (Xvfb with openbox): what the main window raises
// in front of the user, the save question, the failure pop-up and the progress window, is
// stacked above the main window, never behind it; and every window fits a small screen (the
// screen's size from PULSEWICK_TEST_SCREEN). Skips (exit 77) only where Xvfb, openbox or xprop
// cannot be found.
#include "MainDlgHarness.h"

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
#include "CTrayIcon.h"
#include "ResourceIds.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace res;

namespace {

constexpr int kSkipped = 77;
constexpr int kStartMs = 10000;

// Client windows from bottom to top, as the window manager keeps them.
QList<quint64> StackingOrder() {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {"-root", "-notype", "_NET_CLIENT_LIST_STACKING"});
    xprop.waitForFinished(kStartMs);
    QList<quint64> ids;
    static const QRegularExpression hex(QStringLiteral("0x[0-9a-fA-F]+"));
    const QString text = QString::fromLatin1(xprop.readAllStandardOutput());
    for (auto it = hex.globalMatch(text.section(QLatin1Char('#'), 1)); it.hasNext();)
        ids << it.next().captured().toULongLong(nullptr, 16);
    return ids;
}

// Waits until the window manager lists both windows and tells whether top is above bottom.
bool StackedAbove(QWidget* top, QWidget* bottom) {
    const quint64 topId = top->winId();
    const quint64 bottomId = bottom->winId();
    return QTest::qWaitFor(
        [&] {
            const QList<quint64> order = StackingOrder();
            return order.contains(topId) && order.contains(bottomId) && order.indexOf(topId) > order.indexOf(bottomId);
        },
        kStartMs);
}

// Runs check once a modal box is up: records whether it is above the main window, closes it.
void WhenModalShows(QWidget& mainWindow, bool& above, bool& seen) {
    auto* poll = new QTimer(&mainWindow);
    QObject::connect(poll, &QTimer::timeout, poll, [&mainWindow, &above, &seen, poll] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || box == &mainWindow || !box->isVisible())
            return;
        poll->stop();
        seen = true;
        above = StackedAbove(box, &mainWindow);
        if (auto* dialog = qobject_cast<QDialog*>(box))
            dialog->reject();
        poll->deleteLater();
    });
    poll->start(20);
}

class WindowStacking : public ::testing::Test {
protected:
    MainDlgHarness h;
    void SetUp() override {
        ui::SetPrompts(nullptr); // the desktop's own boxes; the harness restores its fake after
        h.Open();
        h.dlg().List().AddTail(std::make_unique<CItem>()).m_strAddress = "host.invalid";
        h.dlg().RefreshList();
        QApplication::setActiveWindow(&h.dlg());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.dlg()));
    }
};

} // namespace

TEST_F(WindowStacking, TheSaveQuestionIsAboveTheWindow) {
    bool above = false, seen = false;
    WhenModalShows(h.dlg(), above, seen);
    h.Click(IDCANCEL); // the added entry is unsaved: the question; rejected, the window stays
    EXPECT_TRUE(seen);
    EXPECT_TRUE(above);
    EXPECT_TRUE(h.dlg().isVisible());
}

TEST_F(WindowStacking, ThePopUpAndTheProgressWindowAreAboveTheWindow) {
    h.runs.outcomes = {0};
    h.runs.stepMs = 3000; // long enough to look at the progress window
    h.Click(IDC_POPUP);
    bool progressAbove = false;
    QObject::connect(&h.dlg(), &CMainDlg::checkRunStarted, &h.dlg(), [&] {
        if (auto* progress = h.dlg().findChild<CProgressDlg*>())
            progressAbove = StackedAbove(progress, &h.dlg());
    });
    bool above = false, seen = false;
    h.Click(IDC_START);
    WhenModalShows(h.dlg(), above, seen);
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_TRUE(progressAbove);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(above) << "the failure pop-up";
}

// With a panel that has a system tray (tint2): while the window runs, the tray icon answers a
// right click with its menu, and the menu's choice works.
TEST(TrayWhileShown, TheTrayMenuAnswersWhileTheWindowRuns) {
    MainDlgHarness h;
    h.trayAvailable = true;
    CMainDlg& dlg = h.Create();
    if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kStartMs))
        GTEST_SKIP() << "no system tray";
    bool menuShown = false;
    bool trayChoiceWorked = false;
    QTimer::singleShot(0, &dlg, [&] {
        QWidget* icon = nullptr;
        const bool iconUp = QTest::qWaitFor(
            [&icon] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (w->inherits("QSystemTrayIconSys") && w->isVisible())
                        icon = w;
                }
                return icon != nullptr && QTest::qWaitForWindowExposed(icon, 50);
            },
            kStartMs);
        if (iconUp) {
            // Through the window system, as the X server's click comes: a modal window would
            // swallow it.
            QTest::mouseClick(icon->windowHandle(), Qt::RightButton, {}, icon->rect().center());
            QMenu* menu = nullptr;
            menuShown = QTest::qWaitFor(
                [&menu] {
                    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                    return menu != nullptr;
                },
                kStartMs);
            if (menu) {
                const bool before = CMainDlg::MinimiseToTray();
                menu->hide();
                dlg.TrayIcon()->MinimiseAction()->trigger();
                trayChoiceWorked = CMainDlg::MinimiseToTray() != before;
                CMainDlg::SetMinimiseToTray(before);
            }
        }
        dlg.Quit();
    });
    QTimer::singleShot(4 * kStartMs, &dlg, [&dlg] { dlg.EndDialog(QDialog::Rejected); }); // never hang
    dlg.DoModal();
    EXPECT_TRUE(menuShown);
    EXPECT_TRUE(trayChoiceWorked);
}

namespace {

// The window, or the buttons that end it, off the screen or the window; the other buttons of the
// main window's column may scroll, but Tab (focus) must bring each of them into view.
QStringList OutOfReach(QWidget& window, const CMainDlg& main) {
    const QRect area = window.screen()->availableGeometry();
    QStringList wrong = area.contains(window.frameGeometry()) ? QStringList() : QStringList{"the window"};
    auto inView = [&](QPushButton* button) {
        const QRect inWindow(button->mapTo(&window, QPoint()), button->size());
        return window.rect().contains(inWindow) && area.contains(inWindow.translated(window.mapToGlobal(QPoint())));
    };
    // As the window opens, before any focus has scrolled it.
    QList<QPushButton*> scrolled;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        const int id = CDialogBuilder::ControlId(button);
        const bool endsIt = id == res::IDOK || id == res::IDCANCEL || qobject_cast<QDialogButtonBox*>(button->parent());
        const bool column = &window == &main && button->x() > main.ListView()->geometry().right();
        if (!button->isVisible() || !(endsIt || column) || inView(button))
            continue;
        if (endsIt)
            wrong << button->text();
        else
            scrolled << button;
    }
    for (QPushButton* button : scrolled) {
        button->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        if (!inView(button))
            wrong << button->text();
    }
    return wrong;
}

// Starts openbox on $DISPLAY and waits until it has announced itself on the root window. On a
// loaded machine it may take long, or die while the X server is still settling: it is started again.
bool StartWindowManager(QProcess& openbox) {
    QElapsedTimer clock;
    clock.start();
    constexpr int kWaitMs = 6 * kStartMs;
    QByteArray answer;
    for (int starts = 0; clock.elapsed() < kWaitMs;) {
        if (openbox.state() == QProcess::NotRunning) {
            if (starts++ == 3)
                break;
            openbox.start(QStringLiteral("openbox"), {"--sm-disable"});
        }
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(kStartMs);
        answer = xprop.readAllStandardOutput() + xprop.readAllStandardError();
        if (answer.contains("window id"))
            return true;
        QThread::msleep(50);
    }
    std::printf("on %s, xprop said: %s\n", qgetenv("DISPLAY").constData(), answer.trimmed().constData());
    return false;
}

} // namespace

// Run at scale 2 on 1280x800, 1024x768 and 1024x736 (1024x768 under a panel).
TEST(DialogsOnScreen, EveryWindowAndTheButtonsThatEndItLieOnTheScreen) {
    MainDlgHarness h;
    CMainDlg& main = h.Open();
    ui::SetPrompts(nullptr); // the desktop's own boxes and file dialog; the harness restores its fake
    CItem entry;
    CItemList list;
    CMailAccount account;
    const EntryRecord record{{{.whenMs = 0, .answered = true, .roundTripUs = 1200},
                              {.whenMs = 60'000, .answered = false},
                              {.whenMs = 120'000, .answered = true, .roundTripUs = 900}},
                             0};
    CSplashWindow::EnableSplashScreen(true);
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"main window", nullptr},
        {"connection", [&] { (new CItemDlg(entry, &main))->show(); }},
        {"pager", [&] { (new CPagerDlg(list, &main))->show(); }},
        {"e-mail", [&] { (new CMailDlg(list, &account, &main))->show(); }},
        {"about", [&] { (new CAboutDlg(&main))->show(); }},
        {"alert policy", [&] { (new CAlertPolicyDlg({}, &main))->show(); }},
        {"progress", [&] { (new CProgressDlg(&main))->Create(); }},
        {"history", [&] { (new CHistoryChart("alpha.invalid:80", record, &main))->show(); }},
        {"manual", [&] { CHelpViewer::Open(QStringLiteral(PULSEWICK_MANUAL), &main); }},
        {"pop-up", [&] { ui::Prompts().MessageBox(&main, "One or more connection failed!", {}, "alpha: refused"); }},
        {"save question", [&] { ui::Prompts().AskSaveChanges(&main, "Save changes to Untitled?"); }},
        {"file dialog",
         [&] {
             ui::Prompts().GetFileName(&main, {{}, "Lists (*.pwk)", "pwk"});
         }},
        {"splash", [&] { ShowSplash(&main); }},
    };
    for (const auto& [name, open] : cases) {
        const QList<QWidget*> before = QApplication::topLevelWidgets();
        QWidget* window = open ? nullptr : &main;
        QStringList wrong{"never shown"};
        QTimer look; // the window may be modal: looked at from within its own loop, then closed
        QObject::connect(&look, &QTimer::timeout, [&] {
            for (QWidget* shown : QApplication::topLevelWidgets()) {
                if (!before.contains(shown) && shown->isVisible() &&
                    (qobject_cast<QDialog*>(shown) || qobject_cast<CSplashWindow*>(shown)))
                    window = shown;
            }
            if (!window || !QTest::qWaitForWindowExposed(window, 50))
                return;
            look.stop();
            // The window manager places and frames a new window a moment after it is exposed
            // (longer on a loaded machine): judged once that has settled.
            (void)QTest::qWaitFor(
                [&] {
                    wrong = OutOfReach(*window, main);
                    return wrong.isEmpty();
                },
                3000);
            if (window != &main)
                window->close();
        });
        look.start(20);
        if (open)
            open();
        (void)QTest::qWaitFor([&] { return !look.isActive(); }, 10000); // else "never shown"
        EXPECT_TRUE(wrong.isEmpty()) << name << ": out of reach: " << wrong.join(", ").toStdString();
    }
}

int main(int argc, char* argv[]) {
    for (const char* tool : {"Xvfb", "openbox", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("skipped: %s not found\n", tool);
            return kSkipped;
        }
    }
    // Xvfb picks a free display and names it on its standard output.
    QProcess xvfb;
    const QByteArray screen = qgetenv("PULSEWICK_TEST_SCREEN"); // WIDTHxHEIGHT
    const QString geometry = QString::fromLatin1(screen.isEmpty() ? "1280x1024" : screen) + QStringLiteral("x24");
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp"});
    if (!xvfb.waitForReadyRead(kStartMs)) {
        std::printf("Xvfb did not start\n");
        return 1;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    ::setenv("DISPLAY", display.constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QProcess openbox;
    const bool managed = StartWindowManager(openbox);
    // A panel with a system tray where there is one; the tray test skips without it.
    QProcess panel;
    if (!QStandardPaths::findExecutable(QStringLiteral("tint2")).isEmpty())
        panel.start(QStringLiteral("tint2"));
    int status = 1;
    if (managed) {
        QApplication app(argc, argv);
        // The window keeps its size and choices in the user's settings: never the real user's here.
        QTemporaryDir settings;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    } else {
        std::printf("openbox did not start (%s): %s\n", qPrintable(openbox.errorString()),
                    openbox.readAllStandardError().constData());
    }
    panel.terminate();
    panel.waitForFinished(kStartMs);
    openbox.terminate();
    openbox.waitForFinished(kStartMs);
    xvfb.terminate();
    xvfb.waitForFinished(kStartMs);
    return status;
}
