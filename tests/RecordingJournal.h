#pragma once
// A journal that records what the core asks of it, and how many
// acknowledges had gone out before each row.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "tests/RecordingHosts.h"

namespace tarvex::test {

class RecordingJournal : public IRowJournal {
public:
    RecordingJournal() = default;
    explicit RecordingJournal(RecordingHosts& hosts) : m_hosts(&hosts) {}
    void RowAdded(int row, const JournalRow& record) override {
        if (m_hosts) acksBefore.push_back(std::count(m_hosts->commands.begin(), m_hosts->commands.end(), CMD_ACK));
        rows.push_back(record);
        numbers.push_back(row);
    }
    void TableEmptied(bool keepAside) override { emptied.push_back(keepAside); }
    void FirstRowsCleared(int count) override { cleared.push_back(count); }
    bool WantsWholeTable() override { return false; }
    void WriteWholeTable(int, const std::function<JournalRow(int)>&) override {}

    std::vector<std::ptrdiff_t> acksBefore;
    std::vector<JournalRow> rows;
    std::vector<int> numbers;
    std::vector<bool> emptied;
    std::vector<int> cleared;

private:
    RecordingHosts* m_hosts = nullptr;
};

}  // namespace tarvex::test
