#include "MainDlgHarness.h"

#include "CItemList.h"
#include "FakeModem.h"
#include "ResourceIds.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;
using testsupport::FakeModem;
using testsupport::ScopedPortOverride;

namespace {

// A window whose list has one entry, so that a scripted run can fail, and the pager alert on.
class MainDlgPagerTest : public ::testing::Test {
protected:
    CMainDlg& Open() {
        h.runs.outcomes = {0};
        CMainDlg& dlg = h.Open();
        dlg.List().AddTail(std::make_unique<CItem>());
        dlg.RefreshList();
        dlg.m_bPager = 1;
        dlg.List().m_bPager = 1;
        return dlg;
    }

    MainDlgHarness h;
};

TEST_F(MainDlgPagerTest, SerialControlErrorIsShownWithTheStopIconAndMonitoringGoesOn) {
    ScopedPortOverride missing(4, "/nonexistent/pulsewick-modem");
    CMainDlg& dlg = Open();
    dlg.List().m_nComPort = 3; // COM4
    dlg.StartMonitoring();
    ASSERT_TRUE(h.timer->Fire());

    ASSERT_EQ(h.prompts.messages.size(), 1u) << h.prompts.Texts().join(" | ").toStdString();
    EXPECT_EQ(h.prompts.messages[0].text, "Invalid Port Number: COM4 (/nonexistent/pulsewick-modem) does not exist");
    EXPECT_EQ(h.prompts.messages[0].icon, ui::MessageIcon::critical);
    EXPECT_TRUE(h.timer->IsArmed()) << "monitoring must go on after a pager failure";
    EXPECT_EQ(h.timer->LastDelay(), 15 * 60000);
    EXPECT_EQ(dlg.IsRunning(), 1);
}

TEST_F(MainDlgPagerTest, WindowKeepsAnsweringWhileTheAlertWaitsForTheModem) {
    FakeModem modem;
    // The initialisation is answered only after 1.2 s, well inside its wait: a limit of 3 whole
    // seconds of the wall clock can end as early as 2 s after the wait began.
    modem.AnswerCarriageReturns({1200, 0});
    ScopedPortOverride port(2, modem.SlavePath());
    CMainDlg& dlg = Open();

    bool clickedDuringWait = false;
    QWidget* focusBefore = nullptr;
    QTimer::singleShot(300, &dlg, [&] {
        h.Click(res::IDC_ABOUT);
        clickedDuringWait = modem.Received().find("ATDT") == std::string::npos;
        // The dialog keys do nothing meanwhile: no focus move, no button, no closing.
        focusBefore = QApplication::focusWidget();
        for (const auto key : {Qt::Key_Tab, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(focusBefore ? focusBefore : &dlg, key);
    });
    const auto cpuBefore = testsupport::ThreadCpuTime();
    const auto start = std::chrono::steady_clock::now();
    dlg.RaiseAlerts();
    const auto took = std::chrono::steady_clock::now() - start;
    const auto cpu = testsupport::ThreadCpuTime() - cpuBefore;

    EXPECT_TRUE(clickedDuringWait);
    EXPECT_TRUE(dlg.isVisible()) << "Esc must not close the window during the call";
    EXPECT_EQ(QApplication::focusWidget(), focusBefore);
    EXPECT_EQ(dlg.IsRunning(), 0) << "nothing was started or stopped by a key";
    EXPECT_NE(std::find(h.calls.begin(), h.calls.end(), "about"), h.calls.end());
    EXPECT_EQ(modem.Received(), "AT Q0 E0 M0 V0\rATDT5551234,,,,,1\r\r");
    EXPECT_TRUE(h.prompts.messages.empty());
    EXPECT_GE(took, 1000ms);
    EXPECT_LT(took, 10s);
    EXPECT_LT(cpu, took / 2) << "the window's thread must sleep while it waits";
}

} // namespace
