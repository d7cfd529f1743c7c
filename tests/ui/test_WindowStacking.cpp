// Under a real X server and window manager (Xvfb with openbox): what the main window raises
// in front of the user, the save question, the failure pop-up and the progress window, is
// stacked above the main window, never behind it. Skips (exit 77) only where Xvfb, openbox or
// xprop cannot be found.
#include "MainDlgHarness.h"
#include "X11TestMain.h"

#include "CItemList.h"
#include "CProgressDlg.h"
#include "CTrayIcon.h"
#include "ResourceIds.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace res;

namespace {

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

int main(int argc, char* argv[]) {
    return RunTestsUnderX11(argc, argv, QSize(1280, 1024));
}
