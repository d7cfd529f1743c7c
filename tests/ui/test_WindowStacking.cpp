// Under a real X server and window manager (Xvfb with openbox): what the main window raises
// in front of the user, the save question, the failure pop-up and the progress window, is
// stacked above the main window, never behind it. Skips (exit 77) only where Xvfb, openbox or
// xprop cannot be found.
#include "MainDlgHarness.h"

#include "CItemList.h"
#include "CProgressDlg.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>
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

int main(int argc, char* argv[]) {
    for (const char* tool : {"Xvfb", "openbox", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("skipped: %s not found\n", tool);
            return kSkipped;
        }
    }
    // Xvfb picks a free display and names it on its standard output.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    if (!xvfb.waitForReadyRead(kStartMs)) {
        std::printf("Xvfb did not start\n");
        return 1;
    }
    const QByteArray display = ":" + xvfb.readLine().trimmed();
    ::setenv("DISPLAY", display.constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QProcess openbox;
    openbox.start(QStringLiteral("openbox"), {"--sm-disable"});
    // The window manager is up once it has announced itself on the root window.
    bool managed = false;
    for (int waited = 0; waited < kStartMs && !managed; waited += 50) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(kStartMs);
        managed = xprop.readAllStandardOutput().contains("window id");
        if (!managed)
            QThread::msleep(50);
    }
    int status = 1;
    if (managed) {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    } else {
        std::printf("openbox did not start\n");
    }
    openbox.terminate();
    openbox.waitForFinished(kStartMs);
    xvfb.terminate();
    xvfb.waitForFinished(kStartMs);
    return status;
}
