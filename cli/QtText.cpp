#include "QtText.h"

namespace cli {

namespace {
QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
} // namespace

std::string ToBytes(const QString& carried) {
    const QByteArray bytes = carried.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QStringList ToQStringList(const Args& args) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(args.size()));
    for (const std::string& arg : args)
        list << FromBytes(arg);
    return list;
}

void PrintError(const QString& text) {
    PrintError(ToBytes(text));
}

} // namespace cli
