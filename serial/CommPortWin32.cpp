// SPDX-License-Identifier: MIT
// TCommPort over the Windows serial communications interface: blocking calls with short
// time-outs, polled by the receiver thread.
#include "CommPort.h"

#include "BoundedCall.h"
#include "PortSlots.h"
#include "PortSlotsWin32.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace {

using std::chrono::milliseconds;

constexpr DWORD transmitQueueBytes = 9216;
constexpr TCommTimeouts portTimeouts{milliseconds(15), milliseconds(1), milliseconds(250), milliseconds(1),
                                     milliseconds(250)};

// The fields of the DCB the program chooses itself; all others come from the port at every
// open (the reserved flag bits, wReserved, the XON/XOFF limits and characters, ErrorChar,
// EofChar, EvtChar, wReserved1).
// TLineSettings as plain values, for an open that may outlive its TCommPort (see CloseCommPort).
struct LineChoice {
    std::int32_t baudRate;
    std::uint8_t byteSize;
    TParity parity;
    TStopBits stopBits;
    bool hardwareFlowControl;
    bool softwareFlowControl;
    bool dtrOn;
    bool rtsOn;
};

LineChoice ChoiceOf(const TLineSettings& line) {
    return LineChoice{line.baudRate.load(std::memory_order_relaxed),
                      line.byteSize,
                      line.parity,
                      line.stopBits,
                      line.hardwareFlowControl,
                      line.softwareFlowControl,
                      line.dtrOn,
                      line.rtsOn};
}

void ApplyLineSettings(DCB& dcb, const LineChoice& line) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(line.baudRate);
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != TParity::none;
    dcb.fOutxCtsFlow = line.hardwareFlowControl;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = line.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = line.softwareFlowControl;
    dcb.fInX = line.softwareFlowControl;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    if (line.hardwareFlowControl)
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else
        dcb.fRtsControl = line.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = line.byteSize;
    dcb.Parity = line.parity == TParity::odd ? ODDPARITY : line.parity == TParity::even ? EVENPARITY : NOPARITY;
    dcb.StopBits = line.stopBits == TStopBits::two ? TWOSTOPBITS : ONESTOPBIT;
}

COMMTIMEOUTS ToCommTimeouts(const TCommTimeouts& t) {
    const auto ms = [](milliseconds value) { return static_cast<DWORD>(value.count()); };
    return COMMTIMEOUTS{ms(t.readInterval), ms(t.readTotalMultiplier), ms(t.readTotalConstant),
                        ms(t.writeTotalMultiplier), ms(t.writeTotalConstant)};
}

// The error value is read before anything else can overwrite it: closing the handle on a
// failed open must not replace the reason the open failed.
ECommError Failure(std::uint8_t code) {
    return ECommError{code, static_cast<std::uint32_t>(GetLastError())};
}

struct OpenResult {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB dcb{};
    std::optional<ECommError> error;
};

// Steps 2 to 7 of an open; on failure nothing is left open.
OpenResult OpenAndSetUp(const std::string& device, const LineChoice& line, const COMMTIMEOUTS& timeouts) {
    OpenResult result;
    const HANDLE handle =
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.error = Failure(ceOpenPort);
        return result;
    }
    const auto fail = [&](std::uint8_t code) {
        result.error = Failure(code);
        CloseHandle(handle);
        return result;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &dcb))
        return fail(ceGetState);
    ApplyLineSettings(dcb, line);
    if (!SetCommState(handle, &dcb))
        return fail(ceSetState);
    if (!SetupComm(handle, TCommPort::receiveQueueBytes, transmitQueueBytes))
        return fail(ceSetupQueues);
    COMMTIMEOUTS given = timeouts;
    if (!SetCommTimeouts(handle, &given))
        return fail(ceSetTimeouts);
    result.handle = handle;
    result.dcb = dcb;
    return result;
}

std::string DeviceKey(const std::string& device) {
    std::string key = device;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(toupper(c)); });
    return "win32 port " + key;
}

std::optional<std::string> BluetoothDeviceOf(const std::string& portName) {
    const auto listed = ReadSerialComm();
    if (!listed)
        return std::nullopt;
    for (const TSerialCommEntry& entry : *listed) {
        if (IsBluetoothDevice(entry.deviceName) && PortDevicePath(entry.portName) == PortDevicePath(portName))
            return entry.deviceName;
    }
    return std::nullopt;
}

std::string SystemErrorText(std::uint32_t osError) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, osError, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length && text ? std::string(text, length) : "error " + std::to_string(osError);
    LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

} // namespace

// Share mode 0 is Windows's own exclusivity: no lock files, so no lock.
class TPortLock {};

// What Windows needs of an open port beyond the members every platform has.
struct TPortSystemState {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // The DCB handed to the port: our fields from lineSettings, the others copied from the port
    // at open, so that a change of baud rate hands the whole record again.
    DCB dcb{};
};

std::string CommErrorReason(const ECommError& error, const std::string& portName, const std::string& devicePath,
                            const std::string& cause) {
    std::string text = portName;
    if (!devicePath.empty() && devicePath != PortDevicePath(portName))
        text += " (" + devicePath + ")";
    text += ": ";
    if (!cause.empty())
        return text + cause;
    switch (error.osError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return text + "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return text + "in use by another program";
    default:
        return text + SystemErrorText(error.osError);
    }
}

TCommPort::TCommPort() : system(std::make_unique<TPortSystemState>()) {}

TCommPort::~TCommPort() {
    try {
        CloseCommPort();
    } catch (const ECommError&) {
        // The handle is released either way; nobody is left to tell.
    }
}

void TCommPort::OpenCommPort() {
    if (IsOpen())
        return;
    openFailure.clear();
    devicePath = PortDevicePath(portName);
    // Opening a Bluetooth serial port dials the paired device: never, as on Linux.
    if (const auto bluetooth = BluetoothDeviceOf(portName)) {
        openFailure = "a Bluetooth link (" + *bluetooth + "), not listened on";
        throw ECommError{ceOpenPort, ERROR_NOT_SUPPORTED};
    }
    timeouts = portTimeouts;
    const std::string key = DeviceKey(devicePath);
    OpenResult result;
    const TBoundedStatus status = CallWithin<OpenResult>(
        key, openPatience,
        [device = devicePath, line = ChoiceOf(lineSettings), given = ToCommTimeouts(timeouts)]() {
            return OpenAndSetUp(device, line, given);
        },
        [](OpenResult&& late) {
            if (late.handle != INVALID_HANDLE_VALUE)
                CloseHandle(late.handle);
        },
        result);
    if (status != TBoundedStatus::done) {
        openFailure = status == TBoundedStatus::busy
                          ? "an earlier open or close has not ended"
                          : "does not respond (a hanging adapter? unplug it and plug it in again)";
        throw ECommError{ceOpenPort, ERROR_TIMEOUT};
    }
    if (result.error)
        throw *result.error;
    system->handle = result.handle;
    system->dcb = result.dcb;
    deviceName = portName;
    deviceDescription.clear();
    if (const auto listed = ReadSerialComm()) {
        for (const TSerialCommEntry& entry : *listed)
            if (PortDevicePath(entry.portName) == devicePath)
                deviceDescription = entry.deviceName;
    }
    portOpen.store(true, std::memory_order_release);
}

void TCommPort::CloseCommPort() {
    if (!IsOpen())
        return;
    const HANDLE handle = system->handle;
    // A driver that keeps CloseHandle waiting (a wedged adapter) must not stall the window: the
    // port counts as closed once the limit has passed, and the handle goes when the call ends.
    // Until then the same device cannot be opened again (the key stays busy).
    struct CloseResult {
        BOOL closed = FALSE;
        DWORD error = 0;
    };
    CloseResult result;
    const TBoundedStatus status = CallWithin<CloseResult>(
        DeviceKey(devicePath), closePatience,
        [handle]() {
            CloseResult r;
            r.closed = CloseHandle(handle);
            r.error = r.closed ? 0 : GetLastError();
            return r;
        },
        [](CloseResult&&) {}, result);
    if (status == TBoundedStatus::done && !result.closed)
        throw ECommError{ceClosePort, static_cast<std::uint32_t>(result.error)};
    // busy cannot happen for a port that is open: its open finished, and its key with it.
    system->handle = INVALID_HANDLE_VALUE;
    portOpen.store(false, std::memory_order_release);
}

void TCommPort::SetPortName(const std::string& name) {
    if (IsOpen())
        throw ECommError{ceNameWhileOpen, 0};
    portName = name;
}

void TCommPort::SetBaudRate(std::int32_t bitsPerSecond) {
    const std::int32_t old = lineSettings.baudRate.exchange(bitsPerSecond, std::memory_order_relaxed);
    if (!IsOpen())
        return;
    DCB dcb = system->dcb;
    ApplyLineSettings(dcb, ChoiceOf(lineSettings));
    if (!SetCommState(system->handle, &dcb)) {
        const ECommError error = Failure(ceSetBaudRate);
        lineSettings.baudRate.store(old, std::memory_order_relaxed);
        throw error;
    }
    system->dcb = dcb;
}

std::uint32_t TCommPort::BytesAvailable() {
    if (!IsOpen())
        throw ECommError{cePortNotOpen, 0};
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(system->handle, &errors, &status))
        throw Failure(ceQueryStatus);
    return status.cbInQue;
}

std::uint32_t TCommPort::ReadBytes(unsigned char* buffer, std::uint32_t count) {
    if (!IsOpen())
        throw ECommError{cePortNotOpen, 0};
    DWORD got = 0;
    if (!ReadFile(system->handle, buffer, count, &got, nullptr))
        throw Failure(ceRead);
    if (got < count)
        buffer[got] = 0;
    return got;
}

void TCommPort::WriteByte(std::uint8_t value) {
    if (!IsOpen())
        throw ECommError{cePortNotOpen, 0};
    DWORD written = 0;
    if (!WriteFile(system->handle, &value, 1, &written, nullptr))
        throw Failure(ceWrite);
}
