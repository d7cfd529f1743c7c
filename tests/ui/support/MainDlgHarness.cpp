#include "MainDlgHarness.h"

#include "CItem.h"
#include "SmtpAlert.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {
struct ForwardingSound : ISoundPlayer {
    ISoundPlayer& target;
    explicit ForwardingSound(ISoundPlayer& t) : target(t) {}
    void Play(const std::string& path) override { target.Play(path); }
};
struct ForwardingLauncher : ICommandLauncher {
    ICommandLauncher& target;
    explicit ForwardingLauncher(ICommandLauncher& t) : target(t) {}
    bool Launch(const std::string& commandLine, const CommandInput& input) override {
        return target.Launch(commandLine, input);
    }
};
} // namespace

MainDlgHarness::MainDlgHarness() = default;

MainDlgHarness::~MainDlgHarness() = default;

CMainDlg& MainDlgHarness::Create(const std::string& commandLineTail) {
    CMainDlg::Services services;
    if (makeTimer) {
        services.timer = makeTimer();
    } else {
        auto fakeTimer = std::make_unique<FakePeriodTimer>();
        timer = fakeTimer.get();
        services.timer = std::move(fakeTimer);
    }
    services.soundPlayer = std::make_unique<ForwardingSound>(m_recorder);
    services.commandLauncher = std::make_unique<ForwardingLauncher>(m_recorder);
    services.makeCheckRunner = makeCheckRunner ? makeCheckRunner : runs.Factory();
    services.editItem = [this](CItem& item, QWidget*) {
        calls.push_back("edit " + item.m_strAddress);
        if (onEditItem)
            onEditItem(item);
    };
    services.editPager = [this](CItemList&, QWidget*) { calls.push_back("pager settings"); };
    services.editMail = [this](CItemList&, QWidget*) { calls.push_back("mail settings"); };
    services.showAbout = [this](QWidget*) { calls.push_back("about"); };
    services.showSplash = showSplash ? showSplash : [this](QWidget*) { calls.push_back("splash"); };
    if (sendMail) // else the real dialogue
        services.sendMail = [send = sendMail](const CItemList& list, const PassHolds&, std::stop_token) {
            return send(list);
        };
    if (sendRecoveryMail)
        services.sendRecoveryMail = [send = sendRecoveryMail](const CItemList&, std::stop_token,
                                                              const std::vector<std::string>& recovered) {
            send(recovered);
            return std::string(smtp::kOk);
        };
    services.trayAvailable = [this] { return trayAvailable; };
    m_dlg = std::make_unique<CMainDlg>(std::move(services), commandLineTail);
    return *m_dlg;
}

CMainDlg& MainDlgHarness::Open(const std::string& commandLineTail) {
    Create(commandLineTail);
    m_dlg->show();
    // The window finishes its start-up (splash, first run) from its event queue.
    QCoreApplication::sendPostedEvents(m_dlg.get(), QEvent::MetaCall);
    return *m_dlg;
}

QWidget* MainDlgHarness::Item(int id) const {
    return m_dlg->GetDlgItem(id);
}

QLineEdit* MainDlgHarness::Edit(int id) const {
    return m_dlg->GetDlgItem<QLineEdit>(id);
}

QAbstractButton* MainDlgHarness::Button(int id) const {
    return m_dlg->GetDlgItem<QAbstractButton>(id);
}

void MainDlgHarness::Click(int id) {
    QTest::mouseClick(Button(id), Qt::LeftButton);
}

QStringList MainDlgHarness::Row(int row) const {
    QStringList cells;
    if (QTreeWidgetItem* item = m_dlg->ListView()->topLevelItem(row)) {
        for (int c = 0; c < 3; ++c)
            cells << item->text(c);
    }
    return cells;
}

int MainDlgHarness::RowCount() const {
    return m_dlg->ListView()->topLevelItemCount();
}
