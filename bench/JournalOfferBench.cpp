// What a start-up costs after a crash with a large journal: the time until
// the offer can be asked (the journal opened and read), the time until its
// rows are in the table, and the process's peak memory. One journal size a
// process, so each peak is its own:
//
//   tarvex-bench-journal-offer --write ROWS FOLDER   makes FOLDER/journal.txt
//   tarvex-bench-journal-offer --offer FOLDER        prints the figures
//
// bench/journal_offer.sh runs it for 65 000, 1 million and 5 million rows.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "journal/Journal.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"

namespace {

using namespace tarvex;

int WriteJournal(long rows, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / "journal.txt", std::ios::binary | std::ios::trunc);
    out << JournalHeader();
    RowRecord row;
    row.time = 1796565787;
    for (long i = 0; i < rows && out; ++i) {
        row.kilograms = 1.234 + static_cast<double>(i % 90000) * 0.001;
        row.cells = {std::to_wstring(i + 1), L"1.2340", L"KG", L"00:00:07", L"14:03:07 12/06/2026", L""};
        out << FormatJournalLine(static_cast<int>(i), row);
    }
    return out ? 0 : 1;
}

int Offer(const std::filesystem::path& folder) {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    CTextLookup texts;
    CWeighingCore core(texts);
    CJournal journal;
    std::wstring reason;
    if (!journal.Open(folder, reason, core.RowCapacity())) {
        std::fprintf(stderr, "cannot open the journal in %s\n", folder.c_str());
        return 1;
    }
    const auto asked = Clock::now();
    core.RestoreRows(journal.Found().rows);
    const auto shown = Clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [&](Clock::time_point t) {
        return std::chrono::duration<double, std::milli>(t - started).count();
    };
    std::printf("rows_shown=%d rows_dropped=%d offer_ms=%.0f shown_ms=%.0f peak_rss_mb=%.1f\n",
                core.Table().RowCount(), journal.Found().droppedRows, ms(asked), ms(shown),
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write") == 0) return WriteJournal(std::atol(argv[2]), argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--offer") == 0) return Offer(argv[2]);
    std::fputs("usage: tarvex-bench-journal-offer --write ROWS FOLDER | --offer FOLDER\n", stderr);
    return 2;
}
