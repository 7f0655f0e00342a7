// One export of a 65001-row table, and the same cells written by openpyxl in
// write-only mode (bench/openpyxl_peer.py) in the same run.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "text/TextCodec.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"
#include "export/TableCells.h"
#include "export/WorkbookExport.h"
#include "tests/support/RecordingHosts.h"

namespace tarvex {
namespace {

const std::vector<std::wstring> kHeaders{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"};

struct FullTable {
    FullTable() : f(RowLimits{-1, 70000}) {
        const auto frame = test::WeightFrame(0x08, 1234);
        const std::vector<uint8_t> bad{0x41, 0x42, 0x43, 0x44, 0x45, 0x46};
        for (int i = 0; i < 65001; ++i) {
            if (i % 50 == 0) { f.Feed(bad); f.Feed(bad); }
            else f.Feed(frame);
            if (i % 100 == 0) f.now += 1;
        }
    }
    ExportRequest Request(const std::filesystem::path& path) const {
        std::vector<ExportColumn> columns;
        for (size_t i = 0; i < kHeaders.size(); ++i) columns.push_back({kHeaders[i], i == 5 ? 200 : 80});
        return TableExport(f.core.Table(), WideFromPath(path), std::move(columns));
    }
    test::CoreFixture f;
};

FullTable& Table() {
    static FullTable table;
    return table;
}

long RssKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// range(0): 0 an Excel 97-2003 file (.xls), 1 an Office Open XML one (.xlsx).
void BM_Export65001(benchmark::State& state) {
    FullTable& table = Table();
    test::TempDir out;
    const auto path = out.Path() / (state.range(0) == 0 ? "bench.xls" : "bench.xlsx");
    for (auto _ : state) {
        const ExportResult r = WriteWorkbook(table.Request(path));
        if (r.status != ExportStatus::Saved) state.SkipWithError("export failed");
    }
    // Peak memory of one export: run it in a child and compare its peak with
    // what it started with.
    const long before = RssKb();
    const pid_t child = fork();
    if (child == 0) _exit(WriteWorkbook(table.Request(path)).status == ExportStatus::Saved ? 0 : 1);
    int status = 0;
    rusage use{};
    wait4(child, &status, 0, &use);
    state.counters["extra_peak_MB"] = static_cast<double>(use.ru_maxrss - before) / 1024.0;
    state.counters["rows"] = table.f.core.Table().RowCount();
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Export65001)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenpyxlPeer65001(benchmark::State& state) {
    FullTable& table = Table();
    test::TempDir out;
    std::string tsv;
    for (size_t i = 0; i < kHeaders.size(); ++i) tsv += (i ? "\t" : "") + Utf8FromWide(kHeaders[i]);
    tsv += "\n";
    const CMeasurementTable& t = table.f.core.Table();
    for (int r = 0; r < t.RowCount(); ++r) {
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            std::string cell = Utf8FromWide(t.Cell(r, c));
            for (char& ch : cell) if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
            tsv += (c ? "\t" : "") + cell;
        }
        tsv += "\n";
    }
    const auto cells = out.Write("cells.tsv", tsv);
    const std::string command = "/usr/bin/python3 '" TARVEX_BENCH_DIR "/openpyxl_peer.py' '" + cells.string() +
                                "' '" + (out.Path() / "peer.xlsx").string() + "'";
    for (auto _ : state) {
        std::FILE* pipe = ::popen(command.c_str(), "r");
        double seconds = -1;
        if (!pipe || std::fscanf(pipe, "%lf", &seconds) != 1) state.SkipWithError("peer failed");
        if (pipe) ::pclose(pipe);
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_OpenpyxlPeer65001)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace
}  // namespace tarvex
