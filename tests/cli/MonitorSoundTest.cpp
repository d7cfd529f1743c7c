// The monitor loads the sound player (and Qt Multimedia with it) only for a list that plays a
// sound, and a sound alert without its module fails on its own line while the next alert runs.
#include "MonitorProcess.h"

#include "CItemList.h"
#include "ListFile.h"
#include "LoopbackPorts.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;
using testsupport::TempDir;

namespace {

std::string Maps(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    return std::string(std::istreambuf_iterator<char>(maps), {});
}

} // namespace

TEST(MonitorSound, TheModuleIsLoadedOnlyForASoundAndItsAbsenceFailsTheSoundAlertAlone) {
    struct Case {
        const char* name;
        bool sound;        // the list plays a sound
        bool moduleBeside; // the program runs where its sound module lies
        bool loaded;       // Qt Multimedia ends up in the process
        const char* outcome;
    };
    const Case cases[] = {
        {"no sound", false, true, false, nullptr},
        {"sound", true, true, true, "sound: "},
        {"sound, module missing", true, false, false, "sound: failed, no sound module ("},
    };
    LoopbackPort closed(LoopbackPort::Kind::closed);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CItemList list;
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 1;
        item->m_strAddress = "127.0.0.1";
        item->m_nPort = closed.Port();
        list.AddTail(std::move(item));
        list.m_nPeriod = 15; // the first pass alone
        const std::string sound = dir.file("alarm.wav").string();
        list.m_strSoundFile = c.sound ? sound : "";
        list.m_strExecute = "true";
        const std::string path = dir.file("list.pwk").string();
        ASSERT_TRUE(SaveListFile(list, path).Succeeded());

        // A copy of the alerts program alone, as an installation that lost the module.
        std::string program = PULSEWICK_CLI;
        if (!c.moduleBeside) {
            program = dir.file("pulsewick-cli-alerts").string();
            std::filesystem::copy_file(PULSEWICK_CLI_ALERTS, program);
        }
        MonitorProcess monitor(dir.path(), {path}, {}, 0, program);
        ASSERT_TRUE(monitor.WaitFor("execute: started: true\n", 30s)) << monitor.Err();
        const std::string maps = Maps(monitor.Pid());
        monitor.Signal(SIGTERM);
        EXPECT_EQ(monitor.Wait(10s), 0) << monitor.Err();

        EXPECT_EQ(maps.find("libQt6Multimedia") != std::string::npos, c.loaded) << maps;
        EXPECT_EQ(maps.find("libQt6Gui") != std::string::npos, c.loaded);
        const std::string err = monitor.Err();
        EXPECT_EQ(monitor.CountLines("sound: "), c.outcome ? 1 : 0) << err;
        if (!c.outcome)
            continue;
        const std::size_t outcome = err.find(c.outcome);
        ASSERT_NE(outcome, std::string::npos) << err;
        EXPECT_EQ(err.find("sound: failed") == std::string::npos, c.moduleBeside) << err;
        EXPECT_NE(err.find(sound + "\n", outcome), std::string::npos) << err;
        EXPECT_LT(outcome, err.find("execute: started: true\n")) << "the alerts keep their order";
    }
}
