#pragma once

#include <QSerialPort>

#include <cstdint>
#include <string>

// The serial-communications control that drives the modem: each operation puts or gets one
// property of the control. Port n ("COMn:") is the device /dev/ttyS(n-1) unless the environment
// variable PULSEWICK_COMn names another device. A failing operation throws CCommError carrying
// the control's description of the failure. The operations are virtual so that tests can stand
// in for the control.
class CCMSCommCtrl {
public:
    CCMSCommCtrl();
    virtual ~CCMSCommCtrl();
    CCMSCommCtrl(const CCMSCommCtrl&) = delete;
    CCMSCommCtrl& operator=(const CCMSCommCtrl&) = delete;

    // CommPort: 1 = COM1. Cannot be changed while the port is open.
    virtual void SetCommPort(std::int16_t port);
    // Settings: "baud,parity,data bits,stop bits", e.g. "1200,N,8,1"; parity N, E, O, M or S,
    // 5 to 8 data bits, 1, 1.5 or 2 stop bits.
    virtual void SetSettings(const std::string& settings);
    // InputLen: the most characters one read of Input returns; 0 returns everything received.
    virtual void SetInputLen(std::int16_t length);
    // PortOpen: opens or closes the port chosen by CommPort with the current Settings.
    // Closing a closed port does nothing.
    virtual void SetPortOpen(bool open);
    // Output: sends the characters; returns once the system has taken all of them.
    virtual void SetOutput(const std::string& data);
    // InBufferCount: received characters waiting to be read.
    virtual std::int16_t GetInBufferCount();
    // Input: takes (and so removes) up to InputLen received characters.
    virtual std::string GetInput();

    // Not properties of the control, but what its users need around them:
    // Sleeps until received characters are waiting or timeoutMs have passed. While it sleeps the
    // thread's Qt events are dispatched when the program has an application object, so a window
    // stays usable. Returns whether characters are waiting; throws when the line failed meanwhile.
    virtual bool WaitForInput(int timeoutMs);
    // The device that port number n stands for.
    static std::string DevicePath(int port);
    // The chosen port as users see it, e.g. "COM2 (/dev/ttyS1)".
    std::string PortName() const;

private:
    struct LineSettings {
        std::int32_t baudRate;
        QSerialPort::Parity parity;
        QSerialPort::DataBits dataBits;
        QSerialPort::StopBits stopBits;
    };

    void ThrowIfClosed() const;
    void ApplySettings(const LineSettings& settings, const std::string& text);
    void PullReceived();
    [[noreturn]] void ThrowOpenFailure(const std::string& device);

    QSerialPort m_port;
    std::int16_t m_nCommPort = 1;
    std::int16_t m_nInputLen = 0;
    std::string m_strSettings;
    std::string m_strLineFailure; // why the device closed itself, reported by the next operation
    LineSettings m_settings;
};
