// The main window on the screen: it grows with the list taking the room, keeps its size for the
// next start, fits a screen smaller than its template by scrolling; and what it says: the status
// line and tray badge around Ping Now, each row as soon as its own probe ends.
#include "MainDlgHarness.h"

#include "CItemList.h"
#include "CProgressDlg.h"
#include "CTrayIcon.h"
#include "ListFile.h"
#include "ResourceIds.h"
#include "TempDir.h"
#include "UserSettings.h"
#include "WindowGeometry.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace res;

namespace {

constexpr int kPatienceMs = 10000;

std::map<int, QRect> Placement(MainDlgHarness& h) {
    std::map<int, QRect> rects;
    for (const ControlTemplate& c : h.dlg().Template().controls) {
        if (QWidget* w = h.Item(c.id); w && c.id > 0)
            rects[c.id] = w->geometry();
    }
    return rects;
}

QLabel* StatusLine(MainDlgHarness& h) {
    return h.dlg().findChild<QLabel*>(QStringLiteral("statusLine"));
}

} // namespace

TEST(MainWindowGeometry, GrowingMovesTheTemplatesControlsAndGivesTheRoomToTheList) {
    MainDlgHarness h;
    CMainDlg& dlg = h.Open();
    const QSize minimum = dlg.minimumSize();
    dlg.resize(minimum); // the template's own layout
    const std::map<int, QRect> before = Placement(h);
    const QRect statusBefore = StatusLine(h)->geometry();
    const QSize grow(180, 120);
    dlg.resize(minimum + grow);
    const std::map<int, QRect> after = Placement(h);

    const QRect list = before.at(IDC_LIST);
    EXPECT_EQ(after.at(IDC_LIST), QRect(list.topLeft(), list.size() + grow));
    for (const auto& [id, rect] : before) {
        if (id == IDC_LIST)
            continue;
        // Beside the list: right by the extra width; under it: down by the extra height.
        const QPoint shift = rect.left() >= list.right() ? QPoint(grow.width(), 0) : QPoint(0, grow.height());
        EXPECT_EQ(after.at(id), rect.translated(shift)) << "control " << id;
    }
    EXPECT_EQ(StatusLine(h)->geometry(),
              QRect(statusBefore.topLeft() + QPoint(0, grow.height()), statusBefore.size() + QSize(grow.width(), 0)));

    // The last column takes the width the list gained; the smallest window still shows every column.
    const QTreeWidget* view = dlg.ListView();
    EXPECT_EQ(view->header()->length(), view->viewport()->width());
    dlg.resize(minimum - QSize(50, 50));
    EXPECT_EQ(dlg.size(), minimum);
    EXPECT_LE(view->header()->length(), view->viewport()->width()) << "a column is cut";
}

TEST(MainWindowGeometry, TheSizeAndPlaceAreKeptForTheNextStart) {
    QSize kept;
    QPoint keptAt;
    {
        MainDlgHarness h;
        CMainDlg& dlg = h.Open();
        kept = dlg.minimumSize() + QSize(0, 21); // the window's width fills the test's small screen
        dlg.resize(kept);
        dlg.move(dlg.screen()->availableGeometry().topLeft() + QPoint(0, 5));
        keptAt = dlg.pos();
        dlg.hide();
    }
    MainDlgHarness h;
    EXPECT_EQ(h.Open().size(), kept);
    EXPECT_EQ(h.dlg().pos(), keptAt);
    ui::UserSettings().remove(QStringLiteral("window")); // the next tests open as new
}

// Run with QT_SCALE_FACTOR=2 on the 800x600 offscreen screen: the template does not fit.
TEST(MainWindowGeometry, OnAScreenSmallerThanTheTemplateEveryControlCanBeReached) {
    MainDlgHarness h;
    CMainDlg& dlg = h.Open();
    const QRect area = dlg.screen()->availableGeometry();
    auto* geometry = dlg.findChild<WindowGeometry*>();
    ASSERT_NE(geometry, nullptr);
    if (geometry->TemplateSize().height() <= area.height())
        GTEST_SKIP() << "the template fits this screen";
    EXPECT_TRUE(area.contains(dlg.geometry())) << "the window fits the work area";
    EXPECT_GE(dlg.pos().y(), area.top()) << "the title bar is on the screen";

    const QRect view = dlg.rect();
    QWidget* last = h.Item(IDC_LOG_ALWAYS);
    QWidget* first = h.Item(IDC_LIST);
    last->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(view.contains(last->geometry())) << "the focus brings a control into view";
    first->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(view.contains(first->geometry().topLeft()));
}

TEST(MainWindowSays, PingNowWhileMonitoringTellsTheNextPassAndTheBadgeWaitsForAPass) {
    MainDlgHarness h;
    h.trayAvailable = true;
    CMainDlg& dlg = h.Open();
    dlg.List().AddTail(std::make_unique<CItem>()).m_strAddress = "alpha.invalid";
    dlg.RefreshList();
    CTrayIcon* tray = dlg.TrayIcon();
    ASSERT_NE(tray, nullptr);

    // Before any pass has ended nothing has answered: the badge stays neutral, also during a
    // Ping Now while stopped.
    std::vector<CTrayIcon::State> during;
    QObject::connect(&dlg, &CMainDlg::checkRunStarted, &dlg, [&] { during.push_back(tray->CurrentState()); });
    h.Click(IDC_START);
    EXPECT_EQ(tray->CurrentState(), CTrayIcon::State::idle);
    h.runs.outcomes = {1};
    ASSERT_TRUE(h.timer->Fire());
    EXPECT_EQ(tray->CurrentState(), CTrayIcon::State::allAnswered);
    h.runs.outcomes = {1};
    h.Click(IDC_PING_NOW);
    const QString statusAfterPing = dlg.StatusLineText();
    const QString tipAfterPing = tray->ToolTip();
    h.Click(IDC_STOP);
    EXPECT_EQ(during, (std::vector<CTrayIcon::State>{CTrayIcon::State::idle, CTrayIcon::State::allAnswered}));
    EXPECT_TRUE(statusAfterPing.startsWith("Monitoring, next pass at ")) << statusAfterPing.toStdString();
    EXPECT_TRUE(tipAfterPing.contains("next pass at")) << tipAfterPing.toStdString();
}

TEST(MainWindowSays, ARowShowsItsProbeAsSoonAsItEndsWithItsOwnEndTime) {
    MainDlgHarness h;
    CMainDlg& dlg = h.Open();
    for (const char* address : {"silent.invalid", "fast.invalid"})
        dlg.List().AddTail(std::make_unique<CItem>()).m_strAddress = address;
    dlg.RefreshList();
    // The first row's host never answers; the second answered right away, at 12:34:56.
    const QDateTime ended(QDate::currentDate(), QTime(12, 34, 56));
    h.runs.outcomes = {ScriptedRuns::kHang, 1};
    h.runs.endFirst = {1};
    h.runs.endedAt = ended.toSecsSinceEpoch();
    QStringList whileRunning;
    h.runs.onStarted = [&] {
        auto* poll = new QTimer(&dlg);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        QObject::connect(poll, &QTimer::timeout, poll, [&h, &whileRunning, poll, clock] {
            auto* progress = h.dlg().findChild<CProgressDlg*>();
            const bool shown = h.Row(1)[2] == "Yes";
            if (!progress || !progress->isVisible() || (!shown && clock->elapsed() < kPatienceMs))
                return;
            for (int c = 0; shown && c < h.dlg().ListView()->columnCount(); ++c)
                whileRunning << h.dlg().ListView()->topLevelItem(1)->text(c);
            QTest::mouseClick(progress->GetDlgItem<QPushButton>(IDCANCEL), Qt::LeftButton);
            poll->deleteLater();
        });
        poll->start(5);
    };
    dlg.CheckConnections();
    ASSERT_FALSE(whileRunning.isEmpty()) << "the row waited for the silent one before it";
    EXPECT_EQ(whileRunning[3], "1.5 ms");
    EXPECT_EQ(whileRunning[5], "12:34:56");
    EXPECT_EQ(h.Row(0)[2], "No") << "the silent row shows nothing new";
}

TEST(MainWindowSays, LoadAndSaveListStartInTheFolderOfTheCurrentListAndSaveOffersItsName) {
    testsupport::TempDir dir;
    const std::string path = dir.file("office.pwk").string();
    CItemList list;
    ASSERT_TRUE(SaveListFile(list, path).Succeeded());
    MainDlgHarness h;
    h.Open(path);
    h.Click(IDC_LOAD_LIST); // cancelled: no answer given
    h.Click(IDC_SAVE_LIST);
    ASSERT_EQ(h.prompts.fileRequests.size(), 2u);
    for (const ui::FileDialogRequest& request : h.prompts.fileRequests)
        EXPECT_EQ(request.directory, QString::fromStdString(dir.path().string()));
    EXPECT_EQ(h.prompts.fileRequests[1].fileName, "office.pwk") << "Save offers the list's own name";
}

TEST(MainWindowGeometry, AStartUpMessageIsCentredOnTheScreen) {
    testsupport::TempDir dir;
    const std::string path = dir.file("broken.pwk").string();
    const std::string garbage = "not a list";
    testsupport::WriteFileBytes(path, std::vector<unsigned char>(garbage.begin(), garbage.end()));
    MainDlgHarness h;
    CMainDlg& dlg = h.Create(path);
    // The boxes centre on their window: it is in its place before the first one.
    QPoint centreAtMessage;
    h.prompts.onMessage = [&](const FakeUserPrompts::Message&) {
        if (centreAtMessage.isNull())
            centreAtMessage = dlg.frameGeometry().center();
    };
    dlg.show();
    ASSERT_FALSE(h.prompts.Texts().isEmpty());
    const QPoint screenCentre = dlg.screen()->availableGeometry().center();
    EXPECT_LE((centreAtMessage - screenCentre).manhattanLength(), 40)
        << centreAtMessage.x() << "," << centreAtMessage.y();
}
