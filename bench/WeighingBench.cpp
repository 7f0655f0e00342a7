// Throughput of the weighing core: frames judged and added as rows, and one
// unit switch over a full table.

#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <random>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "journal/Journal.h"
#include "weighing/FrameLink.h"
#include "tests/support/FeedFrames.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

uint8_t CheckByte(const uint8_t* f) { return static_cast<uint8_t>(f[0] ^ f[1] ^ f[2] ^ f[3] ^ f[4]); }

// A journal in a fresh folder of the system's temporary folder.
struct BenchJournal {
    BenchJournal()
        : folder(std::filesystem::temp_directory_path() /
                 ("tarvex-bench-" + std::to_string(std::random_device{}()))) {
        std::wstring reason;
        journal.Open(folder, reason);
        journal.SetFoundAside();
    }
    ~BenchJournal() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path folder;
    CJournal journal;
};

// Frames cut, judged and added as rows; each row written to the journal
// when there is one, and its acknowledge noted.
void IngestFrames(benchmark::State& state, CJournal* journal) {
    CTextLookup texts;
    CWeighingCore core(texts);
    CFrameLink link;
    link.SetConnected(true);
    uint8_t lastCommand = 0;
    const auto take = [&](const FrameVerdict& verdict) {
        if (verdict.row < 0) return;
        if (journal) journal->RowAdded(verdict.row, core.RecordOf(verdict.row));
        lastCommand = CMD_ACK;
    };
    uint8_t frame[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0};
    uint32_t raw = 12345;
    for (auto _ : state) {
        frame[3] = static_cast<uint8_t>(raw >> 8);
        frame[4] = static_cast<uint8_t>(raw);
        frame[5] = CheckByte(frame);
        test::FeedFrames(link, core, frame, 6, take);
        raw = (raw + 7) & 0xFFFF;
        if (core.Table().RowCount() >= 50000) {
            state.PauseTiming();
            core.ClearFirstRows(core.Table().RowCount());
            if (journal) journal->TableEmptied(false);
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(lastCommand);
    state.SetItemsProcessed(state.iterations());
}

void BM_IngestFrames(benchmark::State& state) { IngestFrames(state, nullptr); }
BENCHMARK(BM_IngestFrames);

// Each row also written to the journal file (one write call, no disk wait).
void BM_IngestFramesJournal(benchmark::State& state) {
    BenchJournal bench;
    IngestFrames(state, &bench.journal);
}
BENCHMARK(BM_IngestFramesJournal);

// What a start-up after a crash with a full table costs: reading 65 000
// journal rows and showing them again.
void BM_RecoverJournal65000(benchmark::State& state) {
    RowRecord row;
    row.time = 1796565787;
    row.cells = {L"   65000", L"1.2340", L"KG", L"00:00:07", L"14:03:07 12/06/2026", L""};
    std::string bytes = JournalHeader();
    for (int i = 0; i < 65000; ++i) {
        row.kilograms = 1.234 + i * 0.001;
        bytes += FormatJournalLine(i, row);
    }
    for (auto _ : state) {
        const JournalContents found = ReadJournal(bytes);
        CTextLookup texts;
        CWeighingCore core(texts);
        core.RestoreRows(found.rows);
        benchmark::DoNotOptimize(core.Table().RowCount());
    }
    state.counters["journal_MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_RecoverJournal65000)->Unit(benchmark::kMillisecond);

void BM_UnitSwitch65000(benchmark::State& state) {
    CTextLookup texts;
    CWeighingCore core(texts);
    CFrameLink link;
    link.SetConnected(true);
    uint8_t frame[6] = {0x5F, 0x08, 0x00, 0x00, 0x00, 0};
    for (uint32_t i = 0; i < 65000; ++i) {
        const uint32_t raw = 1000 + (i * 37) % 90000;
        frame[2] = static_cast<uint8_t>(raw >> 16);
        frame[3] = static_cast<uint8_t>(raw >> 8);
        frame[4] = static_cast<uint8_t>(raw);
        frame[5] = CheckByte(frame);
        test::FeedFrames(link, core, frame, 6);
    }
    int unit = UNIT_KG;
    for (auto _ : state) {
        unit = unit == UNIT_LB ? UNIT_LBOZ : UNIT_LB;
        core.SwitchUnit(unit);
    }
    state.SetItemsProcessed(state.iterations() * core.Table().RowCount());
}
BENCHMARK(BM_UnitSwitch65000)->Unit(benchmark::kMillisecond);

#ifdef __GLIBC__
// Large blocks come from mmap until glibc raises its threshold after the
// first frees, so the heap's own count alone depends on what ran before.
size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes a full table takes per row, the core's own buffers included:
// weights with a damaged frame every 50 rows (each sent twice, so it
// becomes an error row).
void BM_TableMemory65000(benchmark::State& state) {
    for (auto _ : state) {
        const size_t before = HeapInUse();
        CTextLookup texts;
        auto core = std::make_unique<CWeighingCore>(texts, [] { return int64_t{1796565787}; }, RowLimits{-1, 70000});
        CFrameLink link;
        link.SetConnected(true);
        uint8_t frame[6] = {0x5F, 0x08, 0x00, 0x00, 0x00, 0};
        const uint8_t bad[6] = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46};
        for (uint32_t i = 0; core->Table().RowCount() < 65000; ++i) {
            if (i % 50 == 0) {
                test::FeedFrames(link, *core, bad, 6);
                test::FeedFrames(link, *core, bad, 6);
                continue;
            }
            const uint32_t raw = 1000 + (i * 37) % 90000;
            frame[3] = static_cast<uint8_t>(raw >> 8);
            frame[4] = static_cast<uint8_t>(raw);
            frame[2] = static_cast<uint8_t>(raw >> 16);
            frame[5] = CheckByte(frame);
            test::FeedFrames(link, *core, frame, 6);
        }
        const size_t after = HeapInUse();
        state.counters["bytes_per_row"] = static_cast<double>(after - before) / core->Table().RowCount();
    }
}
BENCHMARK(BM_TableMemory65000)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

}  // namespace
}  // namespace tarvex
