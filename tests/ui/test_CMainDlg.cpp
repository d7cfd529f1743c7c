#include "MainDlgHarness.h"

#include "CItemList.h"
#include "CMonitorApp.h"
#include "CProgressDlg.h"
#include "CQtPeriodTimer.h"
#include "CSpinButtonCtrl.h"
#include "CSplashWindow.h"
#include "ListFile.h"
#include "ResourceIds.h"
#include "SplashOnScreen.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <set>

using namespace res;

namespace {

// Controls that UpdateControls greys while monitoring is off, with the defaults.
const std::set<int> kGreyedWhenIdleByDefault{IDC_STOP,      IDC_LOG_FILE,       IDC_LOG_BROWSE,
                                             IDC_LOG_CLEAR, IDC_PAGER_SETTINGS, IDC_MAIL_SETTINGS};

std::unique_ptr<CItem> Entry(const std::string& address, int connect, int port, int result) {
    auto e = std::make_unique<CItem>();
    e->m_strAddress = address;
    e->m_bConnect = connect;
    e->m_nPort = port;
    e->m_bResult = result;
    return e;
}

std::string SaveSample(const testsupport::TempDir& dir, int startAuto) {
    CItemList list;
    list.AddTail(Entry("alpha.invalid", 0, 80, 1));
    list.AddTail(Entry("127.0.0.1", 1, 8080, 0));
    list.m_nPeriod = 20;
    list.m_bPopup = 1;
    list.m_bStartAuto = startAuto;
    list.m_nLogMode = 2;
    list.m_strLogFile = "/var/tmp/pw.log";
    const std::string path = dir.file("sample.pwk").string();
    EXPECT_TRUE(SaveListFile(list, path).Succeeded());
    return path;
}

void LeaveField(MainDlgHarness& h, int to) {
    h.Item(to)->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents(); // the window hears of it once the focus has moved
}

class MainDlgTest : public ::testing::Test {
protected:
    MainDlgHarness h;
    void Activate() {
        QApplication::setActiveWindow(&h.dlg());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&h.dlg()));
    }
};

} // namespace

TEST_F(MainDlgTest, StartsWithAnEmptyListAndTheDefaultSettings) {
    CMainDlg& dlg = h.Open();
    QTreeWidget* view = dlg.ListView();
    ASSERT_EQ(view->columnCount(), 7); // then the round trip, the loss, the time checked and the reason
    EXPECT_EQ(view->headerItem()->text(0), "IP Address");
    EXPECT_EQ(view->headerItem()->text(1), "Port");
    EXPECT_EQ(view->headerItem()->text(2), "OK");
    // The window opens wide enough for every column, and a five-digit port is not cut.
    int columns = 0;
    for (int i = 0; i < view->columnCount(); ++i)
        columns += view->columnWidth(i);
    EXPECT_LE(columns, view->viewport()->width());
    EXPECT_GT(view->columnWidth(1), view->fontMetrics().horizontalAdvance(QStringLiteral("18080")) + 8);
    EXPECT_EQ(h.RowCount(), 0);
    EXPECT_TRUE(dlg.GetDlgItem<QRadioButton>(IDC_LOG_NEVER)->isChecked());
    EXPECT_EQ(h.Edit(IDC_PERIOD)->text(), "15");
    for (int id : {IDC_POPUP, IDC_PAGER, IDC_MAIL, IDC_START_AUTO})
        EXPECT_FALSE(h.Button(id)->isChecked()) << id;
    EXPECT_EQ(dlg.IsRunning(), 0);

    for (const ControlTemplate& c : dlg.Template().controls) {
        if (c.id == IDC_STATIC || c.id == IDC_COMM)
            continue;
        EXPECT_EQ(h.Item(c.id)->isEnabled(), !kGreyedWhenIdleByDefault.count(c.id)) << "control " << c.id;
    }
    EXPECT_TRUE(h.prompts.messages.empty());
    EXPECT_EQ(h.calls, std::vector<std::string>{"splash"});
}

TEST_F(MainDlgTest, StartsWithTheListNamedOnTheCommandLine) {
    testsupport::TempDir dir;
    {
        MainDlgHarness manual;
        manual.Open(SaveSample(dir, 0));
        EXPECT_EQ(manual.Row(0), (QStringList{"alpha.invalid", "ICMP", "Yes"}));
        EXPECT_EQ(manual.Row(1), (QStringList{"127.0.0.1", "8080", "No"}));
        EXPECT_EQ(manual.Edit(IDC_PERIOD)->text(), "20");
        EXPECT_TRUE(manual.Button(IDC_POPUP)->isChecked());
        EXPECT_TRUE(manual.Button(IDC_LOG_ALWAYS)->isChecked());
        EXPECT_EQ(manual.Edit(IDC_LOG_FILE)->text(), "/var/tmp/pw.log");
        EXPECT_TRUE(manual.Item(IDC_LOG_BROWSE)->isEnabled());
        EXPECT_EQ(manual.dlg().IsRunning(), 0);
        EXPECT_FALSE(manual.timer->IsArmed());
    }
    h.Open(SaveSample(dir, 1));
    EXPECT_EQ(h.dlg().IsRunning(), 1);
    ASSERT_TRUE(h.timer->IsArmed());
    EXPECT_EQ(h.timer->LastDelay(), 1) << "the first run follows at once";
    EXPECT_TRUE(h.Item(IDC_STOP)->isEnabled());
    EXPECT_FALSE(h.Item(IDC_ADD)->isEnabled());
    EXPECT_EQ(h.calls, std::vector<std::string>{"splash"});
}

TEST_F(MainDlgTest, AListFileThatCannotBeOpenedLeavesTheDefaultsAndNoAutoStart) {
    testsupport::TempDir dir;
    const std::string quoted = "\"" + dir.file("sample.pwk").string() + "\"";
    SaveSample(dir, 1);
    h.Open(quoted); // quotes are part of the path, so nothing is found
    ASSERT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_EQ(h.prompts.messages[0].text, QString::fromStdString("Loading " + quoted + " failed (returned a 0x2)."));
    EXPECT_EQ(h.prompts.messages[0].icon, ui::MessageIcon::warning);
    EXPECT_TRUE(h.prompts.messages[0].afterBeep);
    EXPECT_EQ(h.dlg().IsRunning(), 0);
    EXPECT_EQ(h.Edit(IDC_PERIOD)->text(), "15");
    EXPECT_EQ(h.calls, std::vector<std::string>{"splash"});
}

TEST_F(MainDlgTest, ACorruptListFileShowsBothMessagesAndSkipsTheRestOfTheStartUp) {
    testsupport::TempDir dir;
    const std::string path = SaveSample(dir, 1);
    std::vector<unsigned char> bytes = testsupport::ReadFileBytes(path);
    bytes.resize(bytes.size() - 2); // cut inside the last port
    testsupport::WriteFileBytes(path, bytes);
    h.Open(path);
    ASSERT_EQ(h.prompts.messages.size(), 2u);
    EXPECT_EQ(h.prompts.messages[0].text, "Error: Load failure.  File may be corrupted.");
    EXPECT_EQ(h.prompts.messages[0].icon, ui::MessageIcon::critical);
    EXPECT_TRUE(h.prompts.messages[0].afterBeep);
    EXPECT_EQ(h.prompts.messages[1].text, "An attempt was made to access an unnamed file past its end.");
    EXPECT_EQ(h.prompts.messages[1].icon, ui::MessageIcon::critical);
    EXPECT_EQ(h.dlg().IsRunning(), 0);
    EXPECT_EQ(h.RowCount(), 0);
    EXPECT_TRUE(h.calls.empty()) << "no splash after a corrupt list";
}

// Unattended start: a real timer and splash, the window run modally, and a first run that
// outlasts the splash. Everything the run shows comes with the window up and centred on it.
TEST_F(MainDlgTest, AnAutomaticFirstRunLongerThanTheSplashRunsUnderTheShownWindow) {
    testsupport::TempDir dir;
    const std::string path = SaveSample(dir, 1);
    h.makeTimer = [] { return std::make_unique<CQtPeriodTimer>(); };
    h.showSplash = [](QWidget* owner) {
        CSplashWindow::EnableSplashScreen(true);
        ShowSplash(owner);
    };
    h.runs.outcomes = {1, 0};
    h.runs.stepMs = CSplashWindow::kDisplayMs / 2; // two rows and the end: 1.5 s past the splash
    CMainDlg& dlg = h.Create(path);

    bool windowUpAtStart = false;
    bool splashAboveAtStart = false;
    h.runs.onStarted = [&] {
        windowUpAtStart = dlg.isVisible();
        CSplashWindow* splash = SplashOnScreen();
        splashAboveAtStart = splash && splash->isVisible() && splash->parentWidget() == &dlg;
    };
    QPoint progressCentre;
    QObject::connect(&dlg, &CMainDlg::checkRunStarted, &dlg, [&] {
        if (auto* progress = dlg.findChild<CProgressDlg*>())
            progressCentre = progress->geometry().center();
    });
    bool windowUpAtPopup = false;
    h.prompts.onMessage = [&](const FakeUserPrompts::Message&) {
        windowUpAtPopup = dlg.isVisible();
        QTimer::singleShot(0, &dlg, [&] { dlg.EndDialog(QDialog::Accepted); });
    };
    QTimer::singleShot(20000, &dlg, [&] { dlg.EndDialog(QDialog::Rejected); }); // never hang
    EXPECT_EQ(dlg.DoModal(), QDialog::Accepted);

    EXPECT_TRUE(windowUpAtStart);
    EXPECT_TRUE(splashAboveAtStart);
    EXPECT_LE((progressCentre - dlg.geometry().center()).manhattanLength(), 4);
    EXPECT_TRUE(windowUpAtPopup);
    EXPECT_EQ(h.prompts.Texts(), QStringList{"One or more connection failed!"});
    EXPECT_EQ(h.runs.finished, 1);
    EXPECT_EQ(SplashOnScreen(), nullptr);
    CSplashWindow::EnableSplashScreen(false);
}

// Texts of a list written elsewhere need not be valid in the locale's encoding; reading the
// fields must not replace them with what they show as.
TEST_F(MainDlgTest, TextsTheUserDidNotEditKeepTheirBytesThroughClicksAndASave) {
    testsupport::TempDir dir;
    CItemList list;
    list.m_strExecute = "echo St\xf6rung";
    list.m_strSoundFile = "/srv/St\xf6rung.wav";
    const std::string path = dir.file("latin1.pwk").string();
    ASSERT_TRUE(SaveListFile(list, path).Succeeded());
    h.Open(path);
    Activate();

    h.Click(IDC_START_AUTO);
    h.Click(IDC_START_AUTO);
    h.Edit(IDC_EXECUTE)->setFocus();
    LeaveField(h, IDC_PERIOD);
    EXPECT_EQ(h.dlg().m_strExecute, "echo St\xf6rung");
    EXPECT_EQ(h.dlg().m_strSoundFile, "/srv/St\xf6rung.wav");
    EXPECT_EQ(h.dlg().List().m_strExecute, "echo St\xf6rung");

    const std::string again = dir.file("again.pwk").string();
    h.prompts.fileAnswers = {QString::fromStdString(again)};
    h.Click(IDC_SAVE_LIST);
    EXPECT_EQ(testsupport::ReadFileBytes(again), testsupport::ReadFileBytes(path));
}

TEST_F(MainDlgTest, ChangeHandlersCopyEachSettingIntoTheList) {
    h.Open();
    Activate();
    CItemList& list = h.dlg().List();
    h.Click(IDC_POPUP);
    h.Click(IDC_START_AUTO);
    EXPECT_EQ(list.m_bPopup, 1);
    EXPECT_EQ(list.m_bStartAuto, 1);

    h.Click(IDC_LOG_ON_FAILURE);
    EXPECT_EQ(list.m_nLogMode, 1);
    EXPECT_TRUE(h.Item(IDC_LOG_BROWSE)->isEnabled());
    h.Click(IDC_LOG_NEVER);
    EXPECT_EQ(list.m_nLogMode, 0);
    EXPECT_FALSE(h.Item(IDC_LOG_FILE)->isEnabled());

    h.Click(IDC_PAGER);
    EXPECT_EQ(list.m_bPager, 1);
    EXPECT_TRUE(h.Item(IDC_PAGER_SETTINGS)->isEnabled());
    h.Click(IDC_MAIL);
    EXPECT_EQ(list.m_bMail, 1);
    h.Click(IDC_MAIL_SETTINGS);
    EXPECT_EQ(h.calls.back(), "mail settings");

    // Text reaches the list when its field loses the focus, not before.
    h.Edit(IDC_EXECUTE)->setFocus();
    QTest::keyClicks(h.Edit(IDC_EXECUTE), "notify-send down");
    EXPECT_EQ(list.m_strExecute, "");
    LeaveField(h, IDC_PERIOD);
    EXPECT_EQ(list.m_strExecute, "notify-send down");

    h.Edit(IDC_PERIOD)->setText("30");
    LeaveField(h, IDC_EXECUTE);
    EXPECT_EQ(list.m_nPeriod, 30);
    h.dlg().GetDlgItem<CSpinButtonCtrl>(IDC_PERIOD_SPIN)->Step(+1);
    EXPECT_EQ(h.Edit(IDC_PERIOD)->text(), "31");
    EXPECT_EQ(list.m_nPeriod, 31);
    EXPECT_TRUE(h.prompts.messages.empty());
}

TEST_F(MainDlgTest, AnInvalidPeriodIsRefusedWithTheFocusBackAndTheListUnchanged) {
    h.Open();
    Activate();
    const std::pair<const char*, const char*> cases[] = {
        {"0", "Please enter an integer between 1 and 100000."},
        {"100001", "Please enter an integer between 1 and 100000."},
        {"abc", "Please enter an integer."},
    };
    QLineEdit* period = h.Edit(IDC_PERIOD);
    for (const auto& [text, message] : cases) {
        h.prompts.messages.clear();
        period->setFocus();
        period->setText(text);
        LeaveField(h, IDC_EXECUTE);
        ASSERT_EQ(h.prompts.Texts(), QStringList{message}) << text;
        EXPECT_EQ(h.prompts.messages[0].icon, ui::MessageIcon::warning);
        EXPECT_EQ(QApplication::focusWidget(), period) << text;
        EXPECT_EQ(period->selectedText(), QString(text));
        EXPECT_EQ(h.dlg().List().m_nPeriod, 15) << text;
    }
    // Enter with an invalid period shows the message and keeps the window.
    h.prompts.messages.clear();
    QTest::keyClick(period, Qt::Key_Return);
    EXPECT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_TRUE(h.dlg().isVisible());
    period->setText("100000");
    h.prompts.saveAnswers = {ui::SaveAnswer::discard}; // the typed period is an unsaved change
    QTest::keyClick(period, Qt::Key_Return);
    EXPECT_FALSE(h.dlg().isVisible());
    EXPECT_EQ(h.dlg().result(), QDialog::Accepted);
}

TEST_F(MainDlgTest, OneClickWithAnInvalidPeriodShowsOneMessageAndTheBoxShowsTheSetting) {
    h.Open();
    Activate();
    QLineEdit* period = h.Edit(IDC_PERIOD);
    period->setFocus();
    period->setText("abc");
    h.Click(IDC_POPUP); // the click also takes the focus from the period field
    QCoreApplication::processEvents();
    EXPECT_EQ(h.prompts.Texts(), QStringList{"Please enter an integer."});
    EXPECT_EQ(h.dlg().List().m_bPopup, 0);
    EXPECT_FALSE(h.Button(IDC_POPUP)->isChecked());
    EXPECT_EQ(period->text(), "abc") << "the text stays for correcting";
    EXPECT_EQ(QApplication::focusWidget(), period);

    h.prompts.messages.clear();
    h.Click(IDC_LOG_ALWAYS);
    QCoreApplication::processEvents();
    EXPECT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_TRUE(h.Button(IDC_LOG_NEVER)->isChecked());
    EXPECT_FALSE(h.Item(IDC_LOG_BROWSE)->isEnabled());
}

TEST_F(MainDlgTest, SoundAndLogFilesAreChosenAndCleared) {
    h.Open();
    CItemList& list = h.dlg().List();
    h.prompts.fileAnswers = {"/srv/sounds/alarm.wav"};
    h.Click(IDC_SOUND_BROWSE);
    ASSERT_EQ(h.prompts.fileRequests.size(), 1u);
    EXPECT_EQ(h.prompts.fileRequests[0].mode, ui::FileDialogRequest::Mode::open);
    EXPECT_EQ(h.prompts.fileRequests[0].filter, "Sounds (*.wav)");
    EXPECT_EQ(h.prompts.fileRequests[0].defaultSuffix, "wav");
    EXPECT_EQ(list.m_strSoundFile, "/srv/sounds/alarm.wav");
    EXPECT_EQ(h.Edit(IDC_SOUND_FILE)->text(), "/srv/sounds/alarm.wav");
    h.Click(IDC_SOUND_BROWSE); // cancelled: the first choice stays
    EXPECT_EQ(list.m_strSoundFile, "/srv/sounds/alarm.wav");
    h.Click(IDC_SOUND_CLEAR);
    EXPECT_EQ(list.m_strSoundFile, "");
    EXPECT_EQ(h.Edit(IDC_SOUND_FILE)->text(), "");
    h.Click(IDC_SOUND_CLEAR);
    EXPECT_EQ(list.m_strSoundFile, "");

    h.Click(IDC_LOG_ALWAYS);
    h.prompts.fileAnswers = {"/var/log/pw.log"};
    h.Click(IDC_LOG_BROWSE);
    ASSERT_EQ(h.prompts.fileRequests.size(), 3u);
    EXPECT_EQ(h.prompts.fileRequests[2].mode, ui::FileDialogRequest::Mode::save);
    EXPECT_EQ(h.prompts.fileRequests[2].filter, "Log (*.log)");
    EXPECT_FALSE(h.prompts.fileRequests[2].confirmOverwrite);
    EXPECT_EQ(list.m_strLogFile, "/var/log/pw.log");
    h.Click(IDC_LOG_CLEAR);
    EXPECT_EQ(list.m_strLogFile, "");
    EXPECT_EQ(h.Edit(IDC_LOG_FILE)->text(), "");
}

TEST_F(MainDlgTest, AddEditAndDeleteWorkOnTheSelectedEntry) {
    h.Open();
    CItemList& list = h.dlg().List();
    h.Click(IDC_ADD); // the edit dialog is left with Escape: the new entry is appended all the same
    ASSERT_EQ(list.GetCount(), 1u);
    EXPECT_EQ(h.Row(0), (QStringList{"", "80", "No"}));

    h.Click(IDC_EDIT); // nothing selected: no dialog
    EXPECT_EQ(h.calls.back(), "edit ");
    EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "edit "), 1);

    h.onEditItem = [](CItem& item) {
        item.m_strAddress = "beta.invalid";
        item.m_bConnect = 0;
    };
    h.dlg().ListView()->topLevelItem(0)->setSelected(true);
    h.Click(IDC_EDIT);
    EXPECT_EQ(h.Row(0), (QStringList{"beta.invalid", "ICMP", "No"}));
    h.onEditItem = nullptr; // Escape: the entry stays as it was
    h.dlg().ListView()->topLevelItem(0)->setSelected(true);
    h.Click(IDC_EDIT);
    EXPECT_EQ(list.GetAt(0).m_strAddress, "beta.invalid");

    list.RemoveAll();
    for (const char* name : {"a.invalid", "b.invalid", "c.invalid"})
        list.AddTail(Entry(name, 1, 80, 0));
    h.dlg().RefreshList();
    QTreeWidgetItem* middle = h.dlg().ListView()->topLevelItem(1);
    middle->setSelected(true);
    h.Click(IDC_DELETE);
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.GetAt(0).m_strAddress, "a.invalid");
    EXPECT_EQ(list.GetAt(1).m_strAddress, "c.invalid");
    EXPECT_EQ(h.Row(1)[0], "c.invalid");
    h.Click(IDC_DELETE); // nothing selected
    EXPECT_EQ(list.GetCount(), 2u);

    // A double-click edits the entry under it.
    QTreeWidget* view = h.dlg().ListView();
    view->topLevelItem(1)->setSelected(true);
    emit view->itemDoubleClicked(view->topLevelItem(1), 0);
    EXPECT_EQ(h.calls.back(), "edit c.invalid");
}

TEST_F(MainDlgTest, SaveAndLoadUseTheListFileAndReportFailures) {
    testsupport::TempDir dir;
    h.Open();
    CItemList& list = h.dlg().List();
    list.AddTail(Entry("gamma.invalid", 1, 25, 1));
    list.m_nPeriod = 45;
    list.m_bStartAuto = 1;
    const QString path = QString::fromStdString(dir.file("saved.pwk").string());
    h.prompts.fileAnswers = {path};
    h.Click(IDC_SAVE_LIST);
    ASSERT_EQ(h.prompts.fileRequests.size(), 1u);
    EXPECT_EQ(h.prompts.fileRequests[0].filter, "Pulsewick list (*.pwk)");
    EXPECT_EQ(h.prompts.fileRequests[0].defaultSuffix, "pwk");
    EXPECT_TRUE(h.prompts.fileRequests[0].confirmOverwrite);
    EXPECT_TRUE(h.prompts.messages.empty());

    const std::string missingDir = dir.file("no-such-dir/x.pwk").string();
    h.prompts.fileAnswers = {QString::fromStdString(missingDir)};
    h.Click(IDC_SAVE_LIST);
    ASSERT_EQ(h.prompts.messages.size(), 1u);
    EXPECT_EQ(h.prompts.messages[0].text,
              QString::fromStdString("Opening " + missingDir + " failed (returned a 0x2)."));
    EXPECT_TRUE(h.prompts.messages[0].afterBeep);

    // Loading replaces the list, refreshes the window and never starts monitoring.
    list.RemoveAll();
    h.dlg().RefreshList();
    h.prompts.messages.clear();
    h.prompts.fileAnswers = {path};
    h.prompts.saveAnswers = {ui::SaveAnswer::discard}; // the emptied list differs from its file
    h.Click(IDC_LOAD_LIST);
    EXPECT_TRUE(h.prompts.messages.empty());
    EXPECT_EQ(h.dlg().List().GetCount(), 1u);
    EXPECT_EQ(h.Row(0), (QStringList{"gamma.invalid", "25", "Yes"}));
    EXPECT_EQ(h.Edit(IDC_PERIOD)->text(), "45");
    EXPECT_TRUE(h.Button(IDC_START_AUTO)->isChecked());
    EXPECT_EQ(h.dlg().IsRunning(), 0);

    h.Click(IDC_LOAD_LIST); // cancelled
    EXPECT_EQ(h.dlg().List().GetCount(), 1u);
}

// The file dialog shows names decoded as text, with U+FFFD for bytes that are not: Save List writes
// the file the user chose, never a new one named by the decoded text, nor one of two that read the same.
TEST_F(MainDlgTest, SaveListWritesTheFileChosenWhenItsNameIsNotText) {
    testsupport::TempDir dir;
    const std::string mine = dir.file("l\xff.pwk").string();
    const std::string twin = dir.file("t\xfe.pwk").string();
    for (const std::string& path : {mine, twin, dir.file("t\xfd.pwk").string()})
        ASSERT_TRUE(SaveListFile(CItemList(), path).Succeeded());
    const auto before = QDir(QString::fromStdString(dir.path().string())).entryList(QDir::Files);
    h.Open(mine);
    const struct {
        std::string chosen;
        bool saved; // else refused with a message
    } cases[] = {{mine, true}, {twin, false}};
    int period = 30;
    for (const auto& c : cases) {
        h.prompts.messages.clear();
        h.dlg().List().m_nPeriod = ++period;
        h.prompts.fileAnswers = {QString::fromLocal8Bit(c.chosen.c_str())};
        h.Click(IDC_SAVE_LIST);
        EXPECT_EQ(QDir(QString::fromStdString(dir.path().string())).entryList(QDir::Files), before) << c.chosen;
        EXPECT_EQ(LoadListFile(c.chosen).list->m_nPeriod, c.saved ? period : 15) << c.chosen;
        EXPECT_EQ(h.prompts.messages.size(), c.saved ? 0u : 1u) << c.chosen;
    }
}

TEST_F(MainDlgTest, HelpOpensTheManualOrSaysItCannot) {
    h.Open();
    const QString manual = QDir(QCoreApplication::applicationDirPath()).filePath("pulsewick.html");
    QFile::remove(manual);
    h.Click(IDHELP);
    EXPECT_EQ(h.prompts.Texts(), QStringList{"Failed to launch help."});

    QFile file(manual);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    h.prompts.messages.clear();
    h.Click(IDHELP);
    ASSERT_EQ(h.prompts.openedUrls.size(), 1u);
    EXPECT_EQ(h.prompts.openedUrls[0], QUrl::fromLocalFile(manual));
    EXPECT_TRUE(h.prompts.messages.empty());
    // A desktop without a viewer for it: the program's own shows the manual.
    h.prompts.openUrlResult = false;
    h.Click(IDHELP);
    EXPECT_TRUE(h.prompts.messages.empty());
    auto* viewer = h.dlg().findChild<QTextBrowser*>();
    ASSERT_TRUE(viewer && viewer->isVisible());
    EXPECT_EQ(viewer->source(), QUrl::fromLocalFile(manual));
    QFile::remove(manual);

    h.Click(IDC_ABOUT);
    EXPECT_EQ(h.calls.back(), "about");
}

TEST_F(MainDlgTest, MonitoringGreysTheEditingControlsAndCloseStopsIt) {
    h.Open();
    h.Click(IDC_LOG_ALWAYS);
    h.Click(IDC_PAGER);
    h.Click(IDC_MAIL);
    h.Click(IDC_START);
    EXPECT_EQ(h.dlg().IsRunning(), 1);
    EXPECT_TRUE(h.timer->IsArmed());
    const std::set<int> greyedWhileMonitoring{IDC_ADD,     IDC_EDIT,           IDC_DELETE,       IDC_LOAD_LIST,
                                              IDC_START,   IDC_POPUP,          IDC_SOUND_BROWSE, IDC_SOUND_CLEAR,
                                              IDC_EXECUTE, IDC_LOG_FILE,       IDC_LOG_BROWSE,   IDC_LOG_CLEAR,
                                              IDC_PAGER,   IDC_PAGER_SETTINGS, IDC_MAIL,         IDC_MAIL_SETTINGS};
    for (const ControlTemplate& c : h.dlg().Template().controls) {
        if (c.id == IDC_STATIC || c.id == IDC_COMM)
            continue;
        EXPECT_EQ(h.Item(c.id)->isEnabled(), !greyedWhileMonitoring.count(c.id)) << "control " << c.id;
    }
    h.Click(IDC_STOP);
    EXPECT_FALSE(h.timer->IsArmed());
    EXPECT_TRUE(h.Item(IDC_MAIL_SETTINGS)->isEnabled());
    h.Click(IDC_START);
    h.prompts.saveAnswers = {ui::SaveAnswer::discard};
    QTest::keyClick(&h.dlg(), Qt::Key_Escape);
    EXPECT_FALSE(h.dlg().isVisible());
    EXPECT_EQ(h.dlg().result(), QDialog::Rejected);
    EXPECT_EQ(h.dlg().IsRunning(), 0);
    EXPECT_FALSE(h.timer->IsArmed());
}

TEST(MonitorApp, TheCommandLineTailIsTheArgumentsJoinedWithSingleBlanks) {
    const char* none[] = {"pulsewick"};
    EXPECT_EQ(CMonitorApp::CommandLineTail(1, none), "");
    const char* args[] = {"pulsewick", "\"/tmp/my", "list.pwk\"", "", "-style"};
    EXPECT_EQ(CMonitorApp::CommandLineTail(5, args), "\"/tmp/my list.pwk\"  -style");
}
