#pragma once
// Readings into a PostgreSQL table, from the journal as the outbox: each
// batch is one INSERT that drops what the server has already (by desk and
// seq), and how far the server has confirmed is kept on the disk. While the
// server cannot be reached the readings wait in the journal and the output
// tries again, one second after the first failure, then twice as long each
// time, up to thirty. All of it runs on the output's own thread; a stop
// ends any wait for the server at once.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outputs/DatabaseTarget.h"
#include "outputs/QueuedOutput.h"

// libpq's connection and result.
struct pg_conn;
struct pg_result;

namespace tarvex {

// Why readings do not reach the server: its own words, or the columns a
// table found there lacks.
struct DatabaseTrouble {
    std::string reason;                       // UTF-8, the password taken out
    std::vector<std::string> missingColumns;  // when the table has other columns
    bool operator==(const DatabaseTrouble&) const = default;
};

class CDatabaseOutput : public ISlowOutput {
public:
    // told(trouble): on the output's thread, when delivering stops or its
    // reason changes; told(nullopt) once readings go again after that.
    using Told = std::function<void(const std::optional<DatabaseTrouble>& trouble)>;
    CDatabaseOutput(DatabaseTarget target, std::filesystem::path markFile, std::wstring remarkPrefix, Told told);
    ~CDatabaseOutput() override;
    CDatabaseOutput(const CDatabaseOutput&) = delete;
    CDatabaseOutput& operator=(const CDatabaseOutput&) = delete;

    // Names the server and table in the confirmed mark.
    std::string MarkTarget() const { return m_target.label + " " + m_target.table; }

    bool Deliver(const RowRecord& reading) override;
    size_t BatchSize() const override;
    size_t DeliverMany(const std::vector<RowRecord>& readings) override;
    std::chrono::milliseconds RetryPause() const override { return m_pause; }
    void Idle() override { KeepMark(true); }

    // From the window's thread, after a change of language.
    void SetRemarkPrefix(std::wstring prefix);
    // From any thread: what waits for the server ends now, and nothing more
    // is sent.
    void Stop() { m_stopping = true; }

private:
    pg_result* Execute(const std::string& sql, const std::vector<std::optional<std::string>>& values,
                      std::string& reason);
    bool Connect(std::string& reason);
    bool TableReady(DatabaseTrouble& trouble);
    // Waits for the socket until ready (true), the deadline or a stop.
    bool WaitForSocket(bool forWriting, std::chrono::steady_clock::time_point deadline);
    void Failed(DatabaseTrouble trouble);
    void Delivered();
    void Disconnect();
    // Writes the confirmed mark when it moved, at most once a MARK_INTERVAL
    // unless now.
    void KeepMark(bool now);

    const DatabaseTarget m_target;
    const std::string m_quotedTable;
    const std::filesystem::path m_markFile;
    std::mutex m_prefixLock;
    std::wstring m_remarkPrefix;
    Told m_told;
    pg_conn* m_connection = nullptr;
    std::chrono::seconds m_connectLimit{10};
    std::optional<DatabaseTrouble> m_trouble;
    std::chrono::milliseconds m_pause{1000};
    std::atomic<bool> m_stopping{false};
    std::string m_markDesk;
    uint64_t m_markSeq = 0;
    uint64_t m_markWritten = 0;
    std::chrono::steady_clock::time_point m_markWrittenAt{};
};

}  // namespace tarvex
