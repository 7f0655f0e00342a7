#include "serial/SerialPort.h"

#include <chrono>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "serial/NetworkProbe.h"
#include "text/TextCodec.h"
#include "serial/NetworkAddress.h"
#include "serial/SocketLine.h"

namespace tarvex {
namespace {
constexpr size_t MAX_SETTINGS_TOLD = 64;
}  // namespace

std::wstring PortErrorText(const char* operation, int error, unsigned port, const std::string& address) {
    const std::wstring systemText = error == DEVICE_GONE    ? std::wstring(DEVICE_GONE_TEXT)
                                    : error == SCALE_SILENT ? std::wstring(SCALE_SILENT_TEXT)
                                                            : platform::ErrorText(error);
    // A USB scale by its name alone: its number is the program's own.
    const std::wstring where = port >= HID_PORT_FIRST ? WideFromUtf8(address)
                               : address.empty()      ? std::to_wstring(port)
                                                      : std::to_wstring(port) + L" (" + WideFromUtf8(address) + L")";
    return L"WARNING:  " + WideFromUtf8(operation) + L" Failed with the following error: \n" + systemText +
           L"\nPort: " + where + L"\n";
}

CSerialPort::~CSerialPort() {
    EndReader();
    std::lock_guard<std::recursive_mutex> guard(m_portLock);
    m_line.reset();
}

void CSerialPort::SetPortMap(CPortMap map) { m_portMap = std::move(map); }

std::shared_ptr<CSerialPort::Session> CSerialPort::CurrentSession() const {
    std::lock_guard<std::mutex> guard(m_sessionLock);
    return m_session;
}

void CSerialPort::EndReader() {
    if (!m_readerThread.joinable()) return;
    // A link the program is ending gets its last bytes out first.
    WaitForFinish(FINISH_WAIT_MS);
    RequestStop();
    m_readerThread.join();
}

bool CSerialPort::OpenPort(ISerialOwner* owner, int portNumber) {
    EndReader();
    auto session = std::make_shared<Session>();
    {
        std::lock_guard<std::mutex> guard(m_sessionLock);
        m_session = session;
    }
    m_owner = owner;
    m_portNumber = static_cast<unsigned>(portNumber);
    m_portAddress = NetworkLabel(m_portNumber);
    if (const HidScaleDevice* hid = HidScale(m_portNumber)) m_portAddress = hid->name;

    std::lock_guard<std::recursive_mutex> guard(m_portLock);
    m_line.reset();
    int openError = 0;
    const HidScaleDevice* const hid = HidScale(m_portNumber);
    m_line = hid ? OpenHidScale(*hid, openError) : OpenLine(m_portMap.Device(portNumber), openError);
    if (!m_line) return false;
    m_quietMs.store(m_line->QuietMs());
    const char* failedStep = nullptr;
    int error = 0;
    if (!m_line->Configure(m_lineSettings, failedStep, error)) ReportPortError(failedStep, error, session);
    m_line->Purge();
    return true;
}

bool CSerialPort::StartReader() {
    if (m_readerThread.joinable()) m_readerThread.join();  // one that ended by itself
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return false;
    {
        // Purged here rather than on the new thread, so that whatever
        // arrives once this returns is kept.
        std::lock_guard<std::recursive_mutex> guard(m_portLock);
        if (!m_line) return false;
        m_line->Purge();
    }
    m_readerRunning.store(true);
    m_readerThread = std::thread([this, session] { ReaderLoop(session); });
    return true;
}

void CSerialPort::QueueWrite(Session& session, const uint8_t* bytes, int count) {
    // Every byte asked for goes out, in order, however many wait: an
    // acknowledge is never dropped, nor overwritten by the stop byte after it.
    if (count > 0) session.writeBuffer.insert(session.writeBuffer.end(), bytes, bytes + count);
    session.writeEvent.Set();
}

void CSerialPort::RequestWrite(const uint8_t* bytes, int count) {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    std::lock_guard<std::mutex> guard(session->lock);
    QueueWrite(*session, bytes, count);
}

void CSerialPort::RequestSendThenStop(const uint8_t* bytes, int count) {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        QueueWrite(*session, bytes, count);
        session->finishRequested = true;
    }
    session->changed.notify_all();
}

void CSerialPort::RequestStop() {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        session->stopRequested = true;
        session->stopEvent.Set();
    }
    session->changed.notify_all();
}

namespace {
int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void CSerialPort::StartPolling(std::string bytes, int everyMs) {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        session->poll = std::move(bytes);
        session->pollEveryMs = std::max(everyMs, 1);
        session->nextPoll = SteadyMs();
        session->answered = true;
    }
    session->writeEvent.Set();  // the reader takes up the new deadline
}

void CSerialPort::StopPolling() {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    std::lock_guard<std::mutex> guard(session->lock);
    session->poll.clear();
}

int CSerialPort::PollWaitMs(Session& session) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (session.poll.empty()) return -1;
    return static_cast<int>(std::clamp<int64_t>(session.nextPoll - SteadyMs(), 0, session.pollEveryMs));
}

bool CSerialPort::SendPoll(const std::shared_ptr<Session>& session) {
    std::string poll;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        if (session->poll.empty() || SteadyMs() < session->nextPoll) return true;
        poll = session->poll;
        // Paced from when it was due, so a late wake-up does not slow the polls.
        session->nextPoll = std::max(session->nextPoll + session->pollEveryMs, SteadyMs());
    }
    session->unanswered = session->answered.exchange(false) ? 0 : session->unanswered + 1;
    if (session->unanswered >= SILENT_POLLS) return false;
    std::lock_guard<std::recursive_mutex> guard(m_portLock);
    int error = 0;
    if (!m_line->Write(reinterpret_cast<const uint8_t*>(poll.data()), poll.size(), SERIAL_TIMEOUT_MS, error))
        ReportPortError(m_line->Steps().write, error, session);
    return true;
}

bool CSerialPort::WaitForFinish(int timeoutMs) {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session || !m_readerRunning.load()) return true;
    std::unique_lock<std::mutex> lock(session->lock);
    if (!session->finishRequested) return false;
    return session->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return session->ended; });
}

bool CSerialPort::ProbePorts(const std::function<void()>& whileWaiting) {
    m_portTable.fill(0);
    m_refusedDevice.clear();
    // Network ports are asked all at once; the devices meanwhile, in turn.
    std::vector<int> networkPorts;
    std::vector<NetworkAddress> addresses;
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n) {
        if (auto address = ParseNetworkAddress(m_portMap.Device(n))) {
            networkPorts.push_back(n);
            addresses.push_back(std::move(*address));
        }
    }
    std::vector<bool> present(PORT_LAST + 1, false);
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n) {
        const std::string& device = m_portMap.Device(n);
        if (device.empty() || ParseNetworkAddress(device)) continue;
        int error = 0;
        const platform::PortHandle probe = platform::OpenExclusive(device, error);
        if (probe == platform::NO_PORT) {
            if (m_refusedDevice.empty() && platform::IsPermissionError(error)) m_refusedDevice = device;
            continue;
        }
        present[static_cast<size_t>(n)] = true;
        platform::Close(probe);
    }
    const std::vector<bool> reachable = ReachableAddresses(addresses, NETWORK_PROBE_LIMIT_MS, whileWaiting);
    for (size_t i = 0; i < networkPorts.size(); ++i)
        if (reachable[i]) present[static_cast<size_t>(networkPorts[i])] = true;
    std::vector<int> found;
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n)
        if (present[static_cast<size_t>(n)]) found.push_back(n);
    m_hidScales = FindHidScales();
    for (size_t i = 0; i < m_hidScales.size(); ++i) found.push_back(HID_PORT_FIRST + static_cast<int>(i));
    int& count = m_portTable[0];
    for (const int n : found) {
        ++count;
        if (count < PORT_TABLE_SIZE) m_portTable[static_cast<size_t>(count)] = n;
    }
    return count > 0 && count < PORT_TABLE_SIZE;
}

std::string CSerialPort::NetworkLabel(unsigned portNumber) const {
    const auto address = ParseNetworkAddress(m_portMap.Device(static_cast<int>(portNumber)));
    return address ? address->Label() : std::string();
}

const HidScaleDevice* CSerialPort::HidScale(unsigned portNumber) const {
    if (portNumber < HID_PORT_FIRST || portNumber - HID_PORT_FIRST >= m_hidScales.size()) return nullptr;
    return &m_hidScales[portNumber - HID_PORT_FIRST];
}

std::wstring CSerialPort::PortLabel(unsigned portNumber) const {
    if (const HidScaleDevice* hid = HidScale(portNumber)) return WideFromUtf8(hid->name);
    const std::string address = NetworkLabel(portNumber);
    return L"COM" + std::to_wstring(portNumber) + (address.empty() ? L"" : L" (" + WideFromUtf8(address) + L")");
}

void CSerialPort::TellSettingsKept(const std::shared_ptr<Session>& session) {
    const std::wstring words = m_line->TakeDifferences();
    if (words.empty() || !m_owner) return;
    // Once for each server and setting, however often the link comes back.
    const std::wstring told = WideFromUtf8(m_portAddress) + L" " + words;
    if (std::find(m_settingsTold.begin(), m_settingsTold.end(), told) != m_settingsTold.end()) return;
    // A server reporting ever new values is remembered by its newest few.
    if (m_settingsTold.size() == MAX_SETTINGS_TOLD) m_settingsTold.erase(m_settingsTold.begin());
    m_settingsTold.push_back(told);
    const unsigned port = m_portNumber;
    ISerialOwner* owner = m_owner;
    SendToOwner(session, [owner, port, words] { owner->OnLineSettingsKept(port, words); });
}

void CSerialPort::ReaderLoop(std::shared_ptr<Session> session) {
    // A network port is reached here, off the window's thread. One that
    // cannot be is no report: the attempt learns that no answer will come.
    bool running = m_line->Reach(session->stopEvent);
    if (!running && !session->Ending() && m_owner) {
        const unsigned port = m_portNumber;
        ISerialOwner* owner = m_owner;
        SendToOwner(session, [owner, port] { owner->OnPortUnreached(port); });
    }
    while (running) {
        // Checked before each wait: the request may have come while the
        // previous write was being taken up, leaving no event behind it.
        if (session->finishRequested && !session->stopRequested) {
            // The program ends the link: what is queued goes out before
            // anything the scale sent meanwhile is looked at.
            SendWriteBuffer(session);
            break;
        }
        int error = 0;
        const char* failedStep = m_line->Steps().wait;
        const platform::WaitResult result =
            m_line->WaitForAny(session->stopEvent, session->writeEvent, PollWaitMs(*session), error);
        if (result != platform::WaitResult::Stop && session->finishRequested) continue;
        switch (result) {
            case platform::WaitResult::Stop:
                running = false;
                break;
            case platform::WaitResult::Line:
                if (m_owner) m_owner->OnSerialEventChar(m_portNumber);
                running = DrainInput(session);
                TellSettingsKept(session);
                break;
            case platform::WaitResult::Write:
                SendWriteBuffer(session);
                break;
            case platform::WaitResult::Removed:
                error = DEVICE_GONE;
                running = false;
                break;
            case platform::WaitResult::Failed:
                running = false;
                break;
            case platform::WaitResult::Timeout:
                break;
        }
        // Due after any wake-up: a scale that streams never lets the wait time out.
        if (running && result != platform::WaitResult::Stop && !SendPoll(session)) {
            running = false;
            error = SCALE_SILENT;
            failedStep = POLL_STEP;
        }
        if (!running && !session->Ending()) {
            // The device went away: the window learns it first (so a running
            // handshake ends quietly), then one report, then the link ends.
            const unsigned port = m_portNumber;
            ISerialOwner* owner = m_owner;
            if (owner) SendToOwner(session, [owner, port] { owner->OnPortRemoved(port); });
            ReportPortError(failedStep, error, session);
        }
    }
    // Let go of the port as the link ends, so the next probe finds it again
    // and a re-plugged device can be opened.
    {
        std::lock_guard<std::recursive_mutex> guard(m_portLock);
        m_line.reset();
    }
    m_readerRunning.store(false);
    {
        std::lock_guard<std::mutex> guard(session->lock);
        session->ended = true;
    }
    session->changed.notify_all();
}

bool CSerialPort::DrainInput(const std::shared_ptr<Session>& session) {
    int error = 0;
    int waiting;
    {
        std::lock_guard<std::recursive_mutex> guard(m_portLock);
        waiting = m_line->QueueCount(error);
    }
    // A device pulled out shows first as a queue count that fails.
    if (waiting < 0 && platform::IsRemovalError(error)) return false;
    if (waiting <= 0) return true;
    uint8_t buffer[SERIAL_BUFFER_SIZE];
    int gathered = 0;
    bool deviceGone = false;
    auto deliver = [&] {
        if (gathered == 0 || !m_owner) return;
        ISerialOwner* owner = m_owner;
        std::vector<uint8_t> copy(buffer, buffer + gathered);
        SendToOwner(session, [owner, copy = std::move(copy)] {
            owner->OnSerialData(copy.data(), static_cast<int>(copy.size()));
        });
        gathered = 0;
    };
    while (waiting > 0 && !session->Ending()) {
        long got;
        {
            // Bytes taken from the line count as received before the lock
            // goes: a quiet check in between would find neither them waiting
            // nor a recent receive, and judge half a frame.
            std::lock_guard<std::recursive_mutex> guard(m_portLock);
            got = m_line->Read(buffer + gathered, static_cast<size_t>(SERIAL_BUFFER_SIZE - gathered), error);
            if (got > 0) {
                m_lastReceive.store(std::chrono::steady_clock::now().time_since_epoch().count());
                session->answered = true;
            }
        }
        if (got < 0) {
            if (platform::IsRemovalError(error)) {
                deviceGone = true;
                break;
            }
            ReportPortError(m_line->Steps().read, error, session);
            break;
        }
        gathered += static_cast<int>(got);
        // A full delivery buffer goes out at once; the drain then goes on.
        if (gathered == SERIAL_BUFFER_SIZE) deliver();
        std::lock_guard<std::recursive_mutex> guard(m_portLock);
        waiting = m_line->QueueCount(error);
    }
    deliver();
    return !deviceGone;
}

bool CSerialPort::LineQuiet() {
    // Under the lock the reader reads with: bytes are either still waiting
    // or already counted as received.
    std::lock_guard<std::recursive_mutex> guard(m_portLock);
    const auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastReceive.load()));
    if (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(QuietMs())) return false;
    if (!m_line) return true;
    int error = 0;
    return m_line->QueueCount(error) <= 0;
}

void CSerialPort::SendWriteBuffer(const std::shared_ptr<Session>& session) {
    {
        // Swapped, not copied: both buffers keep their room for the next burst.
        std::lock_guard<std::mutex> guard(session->lock);
        session->writeEvent.Reset();
        m_sending.clear();
        m_sending.swap(session->writeBuffer);
    }
    if (m_sending.empty()) return;
    {
        std::lock_guard<std::recursive_mutex> guard(m_portLock);
        // Received bytes not yet read are thrown away, as the frames' scale
        // expects. Only the input: clearing the output too could drop an
        // acknowledge written a moment ago that the line has not carried yet.
        if (m_purgeBeforeWrite) m_line->PurgeInput();
        // In pieces, each under the time limit: a long queue of
        // acknowledges takes longer than one limit at 9600 baud.
        for (size_t done = 0; done < m_sending.size() && !session->stopRequested;) {
            const size_t piece = std::min(m_sending.size() - done, static_cast<size_t>(SERIAL_WRITE_PIECE));
            int error = 0;
            if (!m_line->Write(m_sending.data() + done, piece, SERIAL_TIMEOUT_MS, error)) {
                ReportPortError(m_line->Steps().write, error, session);
                break;
            }
            done += piece;
        }
    }
    if (m_owner) m_owner->OnSerialWritten(m_portNumber);
}

void CSerialPort::ReportPortError(const char* operation, int error,
                                  const std::shared_ptr<Session>& session) {
    if (!m_owner) return;
    const std::wstring text = PortErrorText(operation, error, m_portNumber, m_portAddress);
    ISerialOwner* owner = m_owner;
    SendToOwner(session, [owner, text] { owner->ShowPortError(text, PORT_ERROR_CAPTION); });
}

void CSerialPort::SendToOwner(const std::shared_ptr<Session>& session, std::function<void()> work) {
    if (m_owner->OnOwnerThread()) {
        work();
        return;
    }
    struct Handoff {
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    auto handoff = std::make_shared<Handoff>();
    m_owner->PostToOwner([session, handoff, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> guard(session->lock);
            if (handoff->abandoned) return;
            handoff->started = true;
        }
        work();
        {
            std::lock_guard<std::mutex> guard(session->lock);
            handoff->done = true;
        }
        session->changed.notify_all();
    });
    // Synchronous like a window message, but ending the link always ends the
    // wait, so the window thread never waits for a reader that waits for it.
    std::unique_lock<std::mutex> lock(session->lock);
    session->changed.wait(lock, [&] { return handoff->done || session->Ending(); });
    if (!handoff->done) handoff->abandoned = true;
}

}  // namespace tarvex
