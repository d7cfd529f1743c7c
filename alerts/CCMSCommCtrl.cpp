#include "CCMSCommCtrl.h"

#include "CommError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The control's descriptions of its failures.
constexpr const char* kInvalidPortNumber = "Invalid Port Number";
constexpr const char* kPortAlreadyOpen = "Port already open";
constexpr const char* kPortNotOpen = "Operation valid only when the port is open";
constexpr const char* kPermissionDenied = "Permission denied";
constexpr const char* kPortOpenFailed = "Port open failed";
constexpr const char* kInvalidSettings = "Invalid setting";
constexpr const char* kInvalidPropertyValue = "Invalid property value";
constexpr const char* kWriteFailed = "Write failed";
constexpr const char* kWriteTimedOut = "Write timed out";
constexpr const char* kPortFailure = "Port failure";

constexpr const char* kDeviceOverridePrefix = "PULSEWICK_COM";
constexpr const char* kDefaultDevicePrefix = "/dev/ttyS";
constexpr const char* kDefaultSettings = "9600,N,8,1";

// A handful of characters leaves at once; only a stuck line (flow control, a device that stopped
// reading) takes this long, and then the write is reported as failed instead of hanging the alert.
constexpr int kWriteTimeoutMs = 10000;

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        fields.push_back(Trimmed(std::string_view(text).substr(start, comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

std::string FromQt(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

} // namespace

CCMSCommCtrl::CCMSCommCtrl() {
    SetSettings(kDefaultSettings);
    QObject::connect(&m_port, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
        // A device that went away (unplugged, hung up) keeps reporting itself readable and
        // failing every read: close it at once, or the event loop would spin on it, and let the
        // next operation report why.
        if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) && m_port.isOpen()) {
            // The library's own text is often a stale system error here; say what happened.
            m_strLineFailure = std::string(kPortFailure) + ": " + PortName() + " was hung up or removed";
            m_port.close();
        }
    });
}

CCMSCommCtrl::~CCMSCommCtrl() {
    if (m_port.isOpen())
        m_port.close();
}

std::string CCMSCommCtrl::DevicePath(int port) {
    const std::string variable = kDeviceOverridePrefix + std::to_string(port);
    if (const char* device = std::getenv(variable.c_str()); device && *device)
        return device;
    return kDefaultDevicePrefix + std::to_string(port - 1);
}

std::string CCMSCommCtrl::PortName() const {
    return "COM" + std::to_string(m_nCommPort) + " (" + DevicePath(m_nCommPort) + ")";
}

void CCMSCommCtrl::ThrowIfClosed() const {
    if (!m_port.isOpen())
        throw CCommError(m_strLineFailure.empty() ? kPortNotOpen : m_strLineFailure);
}

void CCMSCommCtrl::SetCommPort(std::int16_t port) {
    if (m_port.isOpen())
        throw CCommError(kPortAlreadyOpen);
    if (port < 1)
        throw CCommError(std::string(kInvalidPortNumber) + ": " + std::to_string(port));
    m_nCommPort = port;
}

void CCMSCommCtrl::SetSettings(const std::string& settings) {
    const std::string invalid = std::string(kInvalidSettings) + ": \"" + settings + "\"";
    const auto fields = SplitFields(settings);
    if (fields.size() != 4)
        throw CCommError(invalid);

    LineSettings parsed{};
    try {
        std::size_t used = 0;
        const long baud = std::stol(fields[0], &used);
        if (used != fields[0].size() || baud <= 0 || baud > std::numeric_limits<std::int32_t>::max())
            throw CCommError(invalid);
        parsed.baudRate = static_cast<std::int32_t>(baud);
    } catch (const std::logic_error&) { // not a number, or out of range
        throw CCommError(invalid);
    }

    const std::string& parity = fields[1];
    if (parity.size() != 1)
        throw CCommError(invalid);
    switch (parity[0]) {
    case 'N':
    case 'n':
        parsed.parity = QSerialPort::NoParity;
        break;
    case 'E':
    case 'e':
        parsed.parity = QSerialPort::EvenParity;
        break;
    case 'O':
    case 'o':
        parsed.parity = QSerialPort::OddParity;
        break;
    case 'M':
    case 'm':
        parsed.parity = QSerialPort::MarkParity;
        break;
    case 'S':
    case 's':
        parsed.parity = QSerialPort::SpaceParity;
        break;
    default:
        throw CCommError(invalid);
    }

    const std::string& dataBits = fields[2];
    if (dataBits == "5")
        parsed.dataBits = QSerialPort::Data5;
    else if (dataBits == "6")
        parsed.dataBits = QSerialPort::Data6;
    else if (dataBits == "7")
        parsed.dataBits = QSerialPort::Data7;
    else if (dataBits == "8")
        parsed.dataBits = QSerialPort::Data8;
    else
        throw CCommError(invalid);

    const std::string& stopBits = fields[3];
    if (stopBits == "1")
        parsed.stopBits = QSerialPort::OneStop;
    else if (stopBits == "1.5")
        parsed.stopBits = QSerialPort::OneAndHalfStop;
    else if (stopBits == "2")
        parsed.stopBits = QSerialPort::TwoStop;
    else
        throw CCommError(invalid);

    if (m_port.isOpen())
        ApplySettings(parsed, settings);
    m_settings = parsed;
    m_strSettings = settings;
}

void CCMSCommCtrl::ApplySettings(const LineSettings& settings, const std::string& text) {
    const bool applied = m_port.setBaudRate(settings.baudRate) && m_port.setParity(settings.parity) &&
                         m_port.setDataBits(settings.dataBits) && m_port.setStopBits(settings.stopBits) &&
                         m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        const std::string reason = FromQt(m_port.errorString());
        // Leave the line as it was before: some settings may have gone through already.
        m_port.setBaudRate(m_settings.baudRate);
        m_port.setParity(m_settings.parity);
        m_port.setDataBits(m_settings.dataBits);
        m_port.setStopBits(m_settings.stopBits);
        throw CCommError(std::string(kInvalidSettings) + ": \"" + text + "\" on " + PortName() + ": " + reason);
    }
}

void CCMSCommCtrl::SetInputLen(std::int16_t length) {
    if (length < 0)
        throw CCommError(std::string(kInvalidPropertyValue) + ": InputLen " + std::to_string(length));
    m_nInputLen = length;
}

void CCMSCommCtrl::ThrowOpenFailure(const std::string& device) {
    const std::string port = PortName();
    // Asked first: the library takes its lock file before it opens the device, so a missing
    // device can also come back as a lock conflict.
    struct stat st {};
    if (m_port.error() == QSerialPort::DeviceNotFoundError || (stat(device.c_str(), &st) != 0 && errno == ENOENT))
        throw CCommError(std::string(kInvalidPortNumber) + ": " + port + " does not exist");
    switch (m_port.error()) {
    case QSerialPort::PermissionError:
        // The serial port library reports a device held by another program (its lock file, or
        // the exclusive mode of the terminal) the same way as missing access rights.
        if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            throw CCommError(std::string(kPermissionDenied) + ": " + port + " cannot be opened by this user");
        throw CCommError(std::string(kPortAlreadyOpen) + ": " + port + " is in use by another program");
    default:
        throw CCommError(std::string(kPortOpenFailed) + ": " + port + ": " + FromQt(m_port.errorString()));
    }
}

void CCMSCommCtrl::SetPortOpen(bool open) {
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
        m_strLineFailure.clear();
        return;
    }
    if (m_port.isOpen())
        throw CCommError(kPortAlreadyOpen);

    const std::string device = DevicePath(m_nCommPort);
    m_port.setPortName(QString::fromLocal8Bit(device));
    m_strLineFailure.clear();
    if (!m_port.open(QIODevice::ReadWrite))
        ThrowOpenFailure(device);
    try {
        ApplySettings(m_settings, m_strSettings);
    } catch (...) {
        m_port.close();
        throw;
    }
    // Whatever arrived before the port was ours is not an answer to anything we send.
    m_port.clear(QSerialPort::AllDirections);
}

void CCMSCommCtrl::SetOutput(const std::string& data) {
    ThrowIfClosed();
    if (data.empty())
        return;
    const auto failed = [this](const char* what) {
        if (!m_port.isOpen() && !m_strLineFailure.empty()) // the device went away meanwhile
            return CCommError(m_strLineFailure);
        const std::string description = std::string(what) + ": " + PortName() + ": " + FromQt(m_port.errorString());
        // Nothing of a failed command may go out later, mixed into the next one.
        if (m_port.isOpen())
            m_port.clear(QSerialPort::Output);
        return CCommError(description);
    };
    // A write error may also empty the library's buffer: only its error tells that the characters
    // did not go out.
    const auto writeFailed = [this] {
        return !m_port.isOpen() || m_port.error() == QSerialPort::WriteError ||
               m_port.error() == QSerialPort::ResourceError;
    };
    m_port.clearError();
    if (m_port.write(data.data(), static_cast<qint64>(data.size())) != static_cast<qint64>(data.size()))
        throw failed(kWriteFailed);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (!writeFailed() && m_port.bytesToWrite() > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw failed(kWriteTimedOut);
        if (!m_port.waitForBytesWritten(static_cast<int>(left.count())) && m_port.bytesToWrite() > 0 &&
            m_port.error() == QSerialPort::TimeoutError)
            throw failed(kWriteTimedOut);
    }
    if (writeFailed())
        throw failed(kWriteFailed);
}

void CCMSCommCtrl::PullReceived() {
    // The serial port library moves received bytes into its own buffer only when the event loop
    // runs; take what the system holds now, so that a caller without an event loop sees it too.
    int queued = 0;
    while (ioctl(m_port.handle(), TIOCINQ, &queued) == 0 && queued > 0) {
        if (!m_port.waitForReadyRead(0))
            break;
    }
}

std::int16_t CCMSCommCtrl::GetInBufferCount() {
    ThrowIfClosed();
    int queued = 0;
    if (ioctl(m_port.handle(), TIOCINQ, &queued) != 0)
        queued = 0;
    const qint64 count = m_port.bytesAvailable() + queued;
    return static_cast<std::int16_t>(std::min<qint64>(count, std::numeric_limits<std::int16_t>::max()));
}

std::string CCMSCommCtrl::GetInput() {
    ThrowIfClosed();
    PullReceived();
    ThrowIfClosed(); // reading may have found the device gone
    const QByteArray data = m_nInputLen == 0 ? m_port.readAll() : m_port.read(m_nInputLen);
    return data.toStdString();
}

bool CCMSCommCtrl::WaitForInput(int timeoutMs) {
    if (GetInBufferCount() > 0)
        return true;
    if (timeoutMs <= 0)
        return false;

    if (QCoreApplication::instance()) {
        // A nested event loop: it sleeps until the port has data or the time is up, and carries
        // out every other event of the thread meanwhile.
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_port, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&m_port, &QSerialPort::errorOccurred, &loop, [this, &loop] {
            if (!m_port.isOpen())
                loop.quit();
        });
        timer.start(timeoutMs);
        loop.exec();
        return GetInBufferCount() > 0; // reports a line that failed meanwhile
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{m_port.handle(), POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            return false;
        if (GetInBufferCount() > 0)
            return true;
        // A line that hung up stays "ready" without data: sleep out the time instead of spinning.
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
            std::this_thread::sleep_for(left);
    }
}
