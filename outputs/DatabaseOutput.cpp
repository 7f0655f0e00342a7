#include "outputs/DatabaseOutput.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <memory>

#include "outputs/DatabaseRows.h"
#include "outputs/DeliveredMark.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds FIRST_PAUSE{1000};
constexpr std::chrono::milliseconds LONGEST_PAUSE{30000};
// How often a wait for the server looks whether the program is ending.
constexpr int STOP_CHECK_MS = 100;
// How often the confirmed mark goes to the disk while readings flow.
constexpr std::chrono::milliseconds MARK_INTERVAL{1000};

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// libpq's words, on one line, without what the status line says already
// ("connection to server at "office-db" (10.0.0.5), port 5432 failed: ",
// "FATAL: "), so that the server's reason fits.
std::string OneLine(const char* message) {
    std::string text = message ? message : "";
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.erase(end);
    for (size_t at = text.find("  "); at != std::string::npos; at = text.find("  ", at)) text.erase(at, 1);
    for (const std::string_view lead : {"connection to server ", "could not connect to server"}) {
        const size_t failed = text.find(" failed: ");
        if (text.starts_with(lead) && failed != std::string::npos) text.erase(0, failed + 9);
    }
    for (const std::string_view level : {"FATAL: ", "ERROR: "})
        if (text.starts_with(level)) text.erase(0, level.size());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "no reason given" : text;
}

}  // namespace

CDatabaseOutput::CDatabaseOutput(DatabaseTarget target, std::filesystem::path markFile, std::wstring remarkPrefix,
                                 Told told)
    : m_target(std::move(target)), m_quotedTable(QuotedTableName(m_target.table)), m_markFile(std::move(markFile)),
      m_remarkPrefix(std::move(remarkPrefix)), m_told(std::move(told)) {
    const auto limit = std::find(m_target.keys.begin(), m_target.keys.end(), "connect_timeout");
    if (limit != m_target.keys.end()) {
        const int seconds = std::atoi(m_target.values[static_cast<size_t>(limit - m_target.keys.begin())].c_str());
        // libpq's own rule: below 2 seconds means 2, 0 none (ours: the longest pause).
        m_connectLimit = std::chrono::seconds(seconds <= 0 ? 30 : std::max(seconds, 2));
    }
}

CDatabaseOutput::~CDatabaseOutput() {
    Disconnect();
    KeepMark(true);
}

void CDatabaseOutput::KeepMark(bool now) {
    if (m_markSeq == m_markWritten) return;
    const auto at = Clock::now();
    if (!now && at - m_markWrittenAt < MARK_INTERVAL) return;
    if (WriteDeliveredMark(m_markFile, m_markDesk, MarkTarget(), m_markSeq)) m_markWritten = m_markSeq;
    m_markWrittenAt = at;
}

void CDatabaseOutput::Disconnect() {
    if (m_connection) PQfinish(m_connection);
    m_connection = nullptr;
}

void CDatabaseOutput::SetRemarkPrefix(std::wstring prefix) {
    std::lock_guard<std::mutex> guard(m_prefixLock);
    m_remarkPrefix = std::move(prefix);
}

size_t CDatabaseOutput::BatchSize() const { return DATABASE_BATCH_READINGS; }

bool CDatabaseOutput::Deliver(const RowRecord& reading) { return DeliverMany({reading}) == 1; }

bool CDatabaseOutput::WaitForSocket(bool forWriting, Clock::time_point deadline) {
    // No socket: libpq names the reason at its next call.
    if (PQsocket(m_connection) < 0) return true;
    while (!m_stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int slice = static_cast<int>(std::min<long long>(left, STOP_CHECK_MS));
#ifdef _WIN32
        WSAPOLLFD wanted{static_cast<SOCKET>(PQsocket(m_connection)), static_cast<SHORT>(forWriting ? POLLWRNORM : POLLRDNORM), 0};
        const int ready = WSAPoll(&wanted, 1, slice);
#else
        pollfd wanted{PQsocket(m_connection), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&wanted, 1, slice);
#endif
        if (ready != 0) return true;  // ready, or an error libpq will name
    }
    return false;
}

bool CDatabaseOutput::Connect(std::string& reason) {
    std::vector<const char*> keys, values;
    for (size_t i = 0; i < m_target.keys.size(); ++i) {
        keys.push_back(m_target.keys[i].c_str());
        values.push_back(m_target.values[i].c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_connection = PQconnectStartParams(keys.data(), values.data(), 0);
    const auto deadline = Clock::now() + m_connectLimit;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (m_connection && PQstatus(m_connection) != CONNECTION_BAD) {
        if (state == PGRES_POLLING_OK) {
            if (PQsetnonblocking(m_connection, 1) == 0) return true;
            break;
        }
        if (state == PGRES_POLLING_FAILED) break;
        if (!WaitForSocket(state == PGRES_POLLING_WRITING, deadline)) {
            reason = m_stopping ? "stopped" : "the server did not answer within " +
                                                  std::to_string(m_connectLimit.count()) + " seconds";
            Disconnect();
            return false;
        }
        state = PQconnectPoll(m_connection);
    }
    reason = OneLine(m_connection ? PQerrorMessage(m_connection) : "out of memory");
    Disconnect();
    return false;
}

PGresult* CDatabaseOutput::Execute(const std::string& sql, const std::vector<std::optional<std::string>>& values,
                                   std::string& reason) {
    std::vector<const char*> pointers;
    pointers.reserve(values.size());
    for (const auto& value : values) pointers.push_back(value ? value->c_str() : nullptr);
    if (!PQsendQueryParams(m_connection, sql.c_str(), static_cast<int>(pointers.size()), nullptr, pointers.data(),
                           nullptr, nullptr, 0)) {
        reason = OneLine(PQerrorMessage(m_connection));
        return nullptr;
    }
    // No time limit of its own: a silent server is found by the keepalive
    // and the TCP limit; a table another program has locked is waited for.
    const auto never = Clock::now() + std::chrono::hours(24 * 365);
    for (int flushed; (flushed = PQflush(m_connection)) != 0;) {
        if (flushed < 0 || !WaitForSocket(true, never)) {
            reason = m_stopping ? "stopped" : OneLine(PQerrorMessage(m_connection));
            return nullptr;
        }
    }
    PGresult* last = nullptr;
    for (;;) {
        while (PQisBusy(m_connection)) {
            if (!WaitForSocket(false, never) || !PQconsumeInput(m_connection)) {
                if (last) PQclear(last);
                reason = m_stopping ? "stopped" : OneLine(PQerrorMessage(m_connection));
                return nullptr;
            }
        }
        PGresult* result = PQgetResult(m_connection);
        if (!result) break;
        if (last) PQclear(last);
        last = result;
    }
    const ExecStatusType status = last ? PQresultStatus(last) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return last;
    reason = OneLine(last ? PQresultErrorMessage(last) : PQerrorMessage(m_connection));
    if (last) PQclear(last);
    return nullptr;
}

bool CDatabaseOutput::TableReady(DatabaseTrouble& trouble) {
    std::string notMade;
    for (int pass = 0; pass < 2; ++pass) {
        Result columns(Execute(ColumnsSql(), {m_quotedTable}, trouble.reason), PQclear);
        if (!columns) return false;
        if (PQntuples(columns.get()) > 0) {
            std::vector<std::string> found;
            for (int row = 0; row < PQntuples(columns.get()); ++row) found.emplace_back(PQgetvalue(columns.get(), row, 0));
            trouble.missingColumns = MissingColumns(found);
            return trouble.missingColumns.empty();
        }
        if (pass == 1) break;
        // Desks that start together may make it at the same moment: the
        // server lets one do it and tells the others, who then find it.
        Result created(Execute(CreateTableSql(m_quotedTable), {}, notMade), PQclear);
    }
    trouble.reason = notMade.empty() ? "the table " + m_target.table + " could not be made" : notMade;
    return false;
}

size_t CDatabaseOutput::DeliverMany(const std::vector<RowRecord>& readings) {
    if (m_stopping || readings.empty()) return 0;
    DatabaseTrouble trouble;
    if (!m_connection) {
        if (!Connect(trouble.reason) || !TableReady(trouble)) {
            Failed(std::move(trouble));
            return 0;
        }
    }
    std::vector<std::optional<std::string>> values;
    {
        std::lock_guard<std::mutex> guard(m_prefixLock);
        values = InsertValues(readings, m_remarkPrefix);
    }
    Result inserted(Execute(InsertSql(m_quotedTable, readings.size()), values, trouble.reason), PQclear);
    if (!inserted) {
        Failed(std::move(trouble));
        return 0;
    }
    // The server has them. The mark follows at most a second later: a crash
    // before it sends them again at most, and the server drops the copies.
    m_markDesk = readings.back().desk;
    m_markSeq = readings.back().seq;
    KeepMark(false);
    Delivered();
    return readings.size();
}

void CDatabaseOutput::Failed(DatabaseTrouble trouble) {
    Disconnect();
    KeepMark(true);  // what the server has so far, before a wait of unknown length
    if (m_stopping) return;
    trouble.reason = WithoutSecret(trouble.reason, m_target.password);
    m_pause = m_trouble ? std::min(m_pause * 2, LONGEST_PAUSE) : FIRST_PAUSE;
    if (m_trouble == trouble) return;
    m_trouble = std::move(trouble);
    if (m_told) m_told(m_trouble);
}

void CDatabaseOutput::Delivered() {
    m_pause = FIRST_PAUSE;
    if (!m_trouble) return;
    m_trouble.reset();
    if (m_told) m_told(std::nullopt);
}

}  // namespace tarvex
