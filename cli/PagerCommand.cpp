#include "Commands.h"

#include "CCMSCommCtrl.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "CommError.h"

#include <cstdio>

namespace cli {

namespace {
// Modem traffic is mostly control characters: show it the way C would write it.
std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    for (const unsigned char c : bytes) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += static_cast<char>(c);
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Prints each step of the alert as it happens, and counts what went each way.
class PagerReport {
public:
    void operator()(const CPagerAlert::Event& event) {
        switch (event.kind) {
        case CPagerAlert::Event::Opened:
            Line("Opened " + event.text + " at " + CPagerAlert::kLineSettings);
            break;
        case CPagerAlert::Event::Sent:
            m_bytesSent += event.text.size();
            Line("Sent " + Plural(event.text.size(), "byte", "bytes") + ": " + Quoted(event.text));
            break;
        case CPagerAlert::Event::Answered:
            ++m_answers;
            Line("The modem answered after " + std::to_string(event.seconds) + " s");
            break;
        case CPagerAlert::Event::TimedOut:
            Line("No answer within " + std::to_string(event.seconds) + " s");
            break;
        case CPagerAlert::Event::Received:
            Line("Received " + Plural(event.text.size(), "byte", "bytes") + ": " + Quoted(event.text));
            break;
        case CPagerAlert::Event::Closed:
            Line("Closed the port");
            break;
        }
    }

    std::size_t BytesSent() const { return m_bytesSent; }
    std::size_t Answers() const { return m_answers; }

private:
    static void Line(const std::string& text) {
        PrintOut(text + "\n");
        std::fflush(stdout); // the waits are long: show each step as it happens
    }

    std::size_t m_bytesSent = 0;
    std::size_t m_answers = 0;
};

} // namespace

int RunTestPager(const Args& args) {
    const std::optional<std::string> path = ListAndSwitches(args, {});
    if (!path)
        return UsageError(kTestPagerSynopsis);
    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(*path, exitCode);
    if (!list)
        return exitCode;

    if (!list->m_bPager)
        PrintOut("Note: the pager alert is off in this list; calling the pager anyway.\n");

    PagerReport report;
    CCMSCommCtrl comm;
    try {
        CPagerAlert(comm, *list, [&report](const CPagerAlert::Event& event) { report(event); }).SendPagerAlert();
    } catch (const CCommError& error) {
        PrintError(std::string(error.what()));
        return kExitFailed;
    }
    PrintOut("Pager alert done: " + Plural(report.BytesSent(), "byte", "bytes") + " sent, " +
             Plural(report.Answers(), "answer", "answers") + " from the modem.\n");
    return kExitOk;
}

} // namespace cli
