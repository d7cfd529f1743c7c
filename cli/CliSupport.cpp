#include "CliSupport.h"

#include "CItemList.h"
#include "ListFile.h"
#include "SmtpAlert.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QtGlobal>

#include <cstdio>
#include <vector>

namespace cli {

namespace {
constexpr const char* kProgramPrefix = "pulsewick-cli: ";
constexpr const char* kSmtpPortOverride = "PULSEWICK_SMTP_PORT";
} // namespace

std::uint16_t SmtpPort() {
    bool ok = false;
    const int port = qEnvironmentVariableIntValue(kSmtpPortOverride, &ok);
    return ok && port > 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : smtp::kPort;
}

void PrintError(const std::string& text) {
    const std::string line = kProgramPrefix + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<QString> ListAndSwitches(const QStringList& args, std::initializer_list<Switch> switches) {
    // "--" ends the options for QCommandLineParser; these commands have always refused it.
    if (args.contains(QStringLiteral("--")))
        return std::nullopt;
    QCommandLineParser parser;
    std::vector<QCommandLineOption> options;
    options.reserve(switches.size());
    for (const Switch& candidate : switches) {
        // Switches are long options only: "--json", never "-json" nor "-j".
        options.emplace_back(QString::fromLatin1(candidate.name).mid(2));
        parser.addOption(options.back());
    }
    if (!parser.parse(QStringList{QStringLiteral("pulsewick-cli")} + args) || parser.positionalArguments().size() != 1)
        return std::nullopt;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (parser.isSet(options[i]))
            *std::data(switches)[i].present = true;
    }
    return parser.positionalArguments().front();
}

void PrintError(const QString& text) {
    PrintError(ToBytes(text));
}

int UsageError(const char* synopsis) {
    PrintError(std::string("usage: pulsewick-cli ") + synopsis);
    return kExitUsage;
}

// No flush: on a terminal stdio writes each line as it ends, into a pipe or a file it writes
// whole buffers (and the rest at exit), so a long list is not a write per row.
void PrintOut(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::unique_ptr<CItemList> LoadListOrReport(const QString& path, int& exitCode, CListFileLock* editLock) {
    ListFileLoadResult result = LoadListFile(ToBytes(path), editLock);
    switch (result.status) {
    case ListFileStatus::ok:
        exitCode = kExitOk;
        return std::move(result.list);
    case ListFileStatus::noList:
        exitCode = kExitOk;
        return std::make_unique<CItemList>();
    case ListFileStatus::fileError:
        PrintError(result.message);
        exitCode = kExitFileError;
        return nullptr;
    case ListFileStatus::archiveError:
        PrintError(result.message);
        PrintError(result.causeText);
        exitCode = kExitCorrupt;
        return nullptr;
    }
    exitCode = kExitCorrupt;
    return nullptr;
}

int SaveListOrReport(const CItemList& list, const QString& path, const CListFileLock* editLock) {
    const ListFileSaveResult result = SaveListFile(list, ToBytes(path), editLock);
    if (result.Succeeded())
        return kExitOk;
    PrintError(result.message);
    return kExitFileError;
}

std::size_t Columns(const std::string& text) {
    std::size_t characters = 0;
    for (const char c : text)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80; // continuation bytes do not count
    return characters;
}

std::string Padded(const std::string& text, std::size_t width) {
    const std::size_t columns = Columns(text);
    return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

std::string PortColumnText(const CItem& item) {
    return item.m_bConnect ? std::to_string(item.m_nPort) : std::string("ICMP");
}

std::optional<std::int32_t> ParseInt32(const QString& text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || text.trimmed() != text || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

QString NotAnIntegerText() {
    return QStringLiteral("Please enter an integer.");
}

QString OutOfRangeText(std::int32_t low, std::int32_t high) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

QString FromBytes(const std::string& bytes) {
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace cli
