#pragma once
// A desk for the database output's tests and bench: its journal (readings
// by seq), the output on its queue, what it was told, and a stand-in for
// the window's thread.

#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "outputs/DatabaseOutput.h"
#include "outputs/DeliveredMark.h"
#include "tests/support/FeedRecords.h"
#include "tests/support/TempDir.h"
#include "tests/support/OwnerThread.h"

namespace tarvex::test {

// One desk: its journal (readings by seq), the output on its queue, and a
// stand-in for the window's thread that reads the journal for it.
class Desk {
public:
    explicit Desk(const std::string& connection, const std::string& table = "readings", std::string name = "desk-1")
        : m_name(std::move(name)) {
        DatabaseTarget target;
        std::string reason;
        if (!ParseDatabaseTarget(connection, table, target, reason)) throw std::runtime_error(reason);
        output = std::make_unique<CDatabaseOutput>(
            target, m_folder.Path() / "journal.delivered", L"Damaged frame: ",
            [this](const std::optional<DatabaseTrouble>& trouble) {
                std::lock_guard<std::mutex> guard(m_lock);
                told.push_back(trouble);
            });
        queue = std::make_unique<CQueuedOutput>(
            *output, 4000,
            [this](uint64_t seq, size_t most) {
                std::lock_guard<std::mutex> guard(m_lock);
                std::vector<RowRecord> rows;
                for (uint64_t s = seq; s <= m_journal.size() && rows.size() < most; ++s) rows.push_back(m_journal[s - 1]);
                return rows;
            },
            [this](std::function<void()> work) { m_window.PostToOwner(std::move(work)); });
    }
    ~Desk() { Close(); }

    // As the program ends: the output stops, and its queue goes on the
    // window's thread, where it lives.
    void Close() {
        if (!queue) return;
        output->Stop();
        std::promise<void> gone;
        m_window.PostToOwner([this, &gone] {
            queue.reset();
            gone.set_value();
        });
        gone.get_future().wait();
    }

    // Readings kept in the journal, then handed over from it.
    void Add(size_t count, RowRecord (*make)(uint64_t) = Weighing) {
        uint64_t first = 0;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            first = m_journal.size() + 1;
            for (size_t i = 0; i < count; ++i) {
                m_journal.push_back(make(first + i));
                m_journal.back().desk = m_name;
            }
        }
        m_window.PostToOwner([this, first] { queue->ReadingsHeldBack(first); });
    }
    // As after a crash before the mark was written: from seq on again;
    // returns once they are on their way.
    void SendAgainFrom(uint64_t seq) {
        std::promise<void> handed;
        m_window.PostToOwner([this, seq, &handed] {
            queue->ReadingsHeldBack(seq);
            handed.set_value();
        });
        handed.get_future().wait();
    }
    uint64_t Last() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_journal.size();
    }
    std::vector<std::optional<DatabaseTrouble>> Told() {
        std::lock_guard<std::mutex> guard(m_lock);
        return told;
    }
    std::optional<uint64_t> Mark() {
        return ReadDeliveredMark(m_folder.Path() / "journal.delivered", m_name, output->MarkTarget());
    }

    std::unique_ptr<CDatabaseOutput> output;
    std::unique_ptr<CQueuedOutput> queue;

private:
    std::string m_name;
    test::TempDir m_folder;
    std::mutex m_lock;
    std::vector<RowRecord> m_journal;
    std::vector<std::optional<DatabaseTrouble>> told;
    test::OwnerThread m_window;
};

}  // namespace tarvex::test
