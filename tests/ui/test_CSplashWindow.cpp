#include "CSplashWindow.h"
#include "SplashOnScreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Each test starts with the flag clear and no splash, and leaves it so.
class SplashTest : public ::testing::Test {
protected:
    void SetUp() override {
        CSplashWindow::EnableSplashScreen(false);
        CSplashWindow::SetPicturePath({});
        owner.setGeometry(100, 120, 640, 480);
    }
    void TearDown() override {
        CSplashWindow::EnableSplashScreen(false);
        CSplashWindow::SetPicturePath({});
        delete SplashOnScreen();
        ASSERT_EQ(SplashOnScreen(), nullptr);
    }

    QWidget owner;
};

TEST_F(SplashTest, NothingShowsWhileTheFlagIsClear) {
    EXPECT_EQ(CSplashWindow::ShowSplash(&owner), nullptr);
    ShowSplash(&owner);
    EXPECT_EQ(SplashOnScreen(), nullptr);
}

TEST_F(SplashTest, NothingShowsWhenThePictureCannotBeLoaded) {
    CSplashWindow::EnableSplashScreen(true);
    CSplashWindow::SetPicturePath(QStringLiteral("/nonexistent/splash.png"));
    EXPECT_EQ(CSplashWindow::ShowSplash(&owner), nullptr);
    EXPECT_EQ(SplashOnScreen(), nullptr);
}

TEST_F(SplashTest, ShowsTheBorderlessPictureCentredOnAVisibleOwner) {
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    CSplashWindow::EnableSplashScreen(true);
    CSplashWindow* splash = CSplashWindow::ShowSplash(&owner);
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(SplashOnScreen(), splash);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_TRUE(splash->isWindow());
    EXPECT_TRUE(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(splash->size(), QSize(520, 317));
    EXPECT_LE((splash->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);

    // It shows the picture (not an empty window).
    const QImage shot = splash->grab().toImage();
    EXPECT_NE(shot.pixelColor(260, 40), shot.pixelColor(5, 300));
}

TEST_F(SplashTest, CentresOnTheScreenWhileTheOwnerIsHidden) {
    CSplashWindow::EnableSplashScreen(true);
    CSplashWindow* splash = CSplashWindow::ShowSplash(&owner);
    ASSERT_NE(splash, nullptr);
    const QRect area = owner.screen()->availableGeometry();
    EXPECT_LE((splash->frameGeometry().center() - area.center()).manhattanLength(), 2);
}

// The slow case: one splash lives its full time whatever is asked or clicked meanwhile, and
// once it is gone the next one may show.
TEST_F(SplashTest, ASecondRequestClicksAndKeysDoNotDisturbTheTimer) {
    CSplashWindow::EnableSplashScreen(true);
    QElapsedTimer clock;
    clock.start();
    CSplashWindow* first = CSplashWindow::ShowSplash(&owner);
    ASSERT_NE(first, nullptr);
    QPointer<CSplashWindow> alive(first);

    QTest::qWait(500);
    EXPECT_EQ(CSplashWindow::ShowSplash(&owner), nullptr);
    ShowSplash(&owner);
    EXPECT_EQ(SplashOnScreen(), first);

    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(260, 150));
    QTest::mouseDClick(first, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClick(first, Qt::Key_Escape);
    QTest::keyClick(first, Qt::Key_Return);
    QTest::qWait(100);
    ASSERT_TRUE(alive);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(SplashOnScreen(), first);

    // Generous margins: it must not go before its time, and must go well within twice of it.
    QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 2 * CSplashWindow::kDisplayMs + 2000);
    EXPECT_GE(clock.elapsed(), CSplashWindow::kDisplayMs - 100);
    EXPECT_EQ(SplashOnScreen(), nullptr);

    CSplashWindow* next = CSplashWindow::ShowSplash(&owner);
    EXPECT_NE(next, nullptr);
    EXPECT_EQ(SplashOnScreen(), next);
}

// Qt delivers pending events inside the show() of a splash-screen window; one of them may
// outlast the picture. The window must not be deleted under its own show().
TEST_F(SplashTest, ATimeUpWhileShowStillRunsClosesTheSplashAfterwards) {
    CSplashWindow::EnableSplashScreen(true);
    bool ranInsideShow = false;
    QTimer::singleShot(0, [&] {
        ranInsideShow = SplashOnScreen() != nullptr;
        QTest::qWait(CSplashWindow::kDisplayMs + 500);
    });
    EXPECT_EQ(CSplashWindow::ShowSplash(&owner), nullptr);
    ASSERT_TRUE(ranInsideShow) << "nothing ran inside show(): this test proves nothing here";
    EXPECT_EQ(SplashOnScreen(), nullptr);
    QTest::qWait(50);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<CSplashWindow*>(w), nullptr) << "deleted once show() has returned";
}

TEST_F(SplashTest, ClosingTheOwnerTakesTheSplashAlong) {
    CSplashWindow::EnableSplashScreen(true);
    auto* shortLived = new QWidget;
    QPointer<CSplashWindow> splash(CSplashWindow::ShowSplash(shortLived));
    ASSERT_TRUE(splash);
    delete shortLived;
    EXPECT_TRUE(splash.isNull());
    EXPECT_EQ(SplashOnScreen(), nullptr);
}

} // namespace
