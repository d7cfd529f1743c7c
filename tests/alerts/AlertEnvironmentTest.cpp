#include "AlertEnvironment.h"
#include "CItemList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

namespace {

void AddEntry(CItemList& list, const std::string& address, int connect, int port, int result, ProbeFailure failure,
              bool probed = true) {
    auto item = std::make_unique<CItem>();
    item->m_strAddress = address;
    item->m_bConnect = connect;
    item->m_nPort = port;
    item->m_bResult = result;
    item->m_nLastFailure = failure;
    item->m_tLastProbe = probed ? 1000 : -1;
    list.AddTail(std::move(item));
}

// Sets the process's time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        m_old ? ::setenv("TZ", m_old->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

TEST(AlertEnvironment, NamesEveryFailedEntryWithItsReason) {
    const TimeZone zone("<+0530>-5:30");
    CItemList list;
    AddEntry(list, "192.0.2.7", 0, 80, 0, ProbeFailure::timedOut);
    AddEntry(list, "fine.example", 1, 22, 1, ProbeFailure::unknown);
    AddEntry(list, "db.example", 1, 5432, 0, ProbeFailure::refused);
    // A tab or line break pasted into an address must not make a line or column of its own.
    AddEntry(list, "odd\thost\nname", 1, 443, 0, ProbeFailure::unknown, false);
    const auto when = std::chrono::system_clock::from_time_t(1796652603); // 2026-12-07 14:10:03 UTC

    const std::vector<std::string> env =
        alertenv::Environment({alertenv::kEventFailed, "/etc/pulsewick/office.pwk", when}, list);
    EXPECT_EQ(env, (std::vector<std::string>{
                       "PULSEWICK_EVENT=failed",
                       "PULSEWICK_LIST=/etc/pulsewick/office.pwk",
                       "PULSEWICK_FAILED_COUNT=3",
                       "PULSEWICK_FAILED=192.0.2.7\tICMP\tno answer within the time limit\n"
                       "db.example\t5432\tconnection refused\n"
                       "odd host name\t443\t\n",
                       "PULSEWICK_PASS_TIME=2026-12-07T19:40:03+05:30",
                   }));

    // Nothing failed (as after a recovery) and an untitled list: the variables are there, empty.
    CItemList fine;
    AddEntry(fine, "192.0.2.7", 0, 80, 1, ProbeFailure::unknown);
    const TimeZone utc("UTC0");
    EXPECT_EQ(alertenv::Environment({alertenv::kEventRecovered, "", when}, fine),
              (std::vector<std::string>{"PULSEWICK_EVENT=recovered", "PULSEWICK_LIST=", "PULSEWICK_FAILED_COUNT=0",
                                        "PULSEWICK_FAILED=", "PULSEWICK_PASS_TIME=2026-12-07T14:10:03+00:00"}));
}

} // namespace
