#pragma once
// The weighing core and the link, driven as the session drives them, with what
// each frame's verdict asks for recorded: the bytes to send, the rows to
// show, the notices and the full table.

#include <cstdint>
#include <string>
#include <vector>

#include "text/TextLookup.h"
#include "journal/Journal.h"
#include "tests/support/FeedFrames.h"
#include "tests/support/TempDir.h"
#include "weighing/FrameLink.h"
#include "weighing/WeighingCore.h"

namespace tarvex::test {

// A language file whose texts name their own key, so tests can tell them apart.
inline const char* const kTestLanguage =
    "[ListCtrl_Header]\n"
    "Overweight=OVER\n"
    "Error_EX=ERR\n"
    "[Message]\n"
    "CMD_ERROR=Bad:\n"
    "Clear_Data=Clear?\n"
    "Data_Warning=Nearly full\n"
    "Data_Error=Full\n";

struct RecordedVerdicts {
    std::vector<uint8_t> commands;        // CMD_REPEAT and CMD_ACK, in order
    std::vector<int> addedRows;
    int nearlyFull = 0, tableFull = 0;
    bool quietWatched = false;
};

// A connected core over the test language file, with a clock the test sets.
struct CoreFixture {
    explicit CoreFixture(RowLimits limits = {})
        : languageFile(dir.Write("Test.ini", kTestLanguage)), core(TextsFor(texts, languageFile), [this] { return now; }, limits) {
        link.SetConnected(true);
    }

    static const CTextLookup& TextsFor(CTextLookup& texts, const std::filesystem::path& file) {
        texts.SetLanguageFile(file.wstring());
        return texts;
    }

    // A burst, then the line falls quiet.
    void Feed(std::vector<uint8_t> bytes) {
        FeedPiece(std::move(bytes));
        Quiet();
    }
    // Bytes with more of the stream to come.
    void FeedPiece(std::vector<uint8_t> bytes) {
        FeedFrames(link, core, bytes.data(), static_cast<int>(bytes.size()), [this](const FrameVerdict& v) { Take(v); });
        hosts.quietWatched = link.IsConnected() && link.Pending();
    }
    // The window's timer runs out only when an open frame waits.
    void Quiet() {
        if (!hosts.quietWatched) return;
        hosts.quietWatched = false;
        FlushFrame(link, core, [this](const FrameVerdict& v) { Take(v); });
    }
    void Take(const FrameVerdict& verdict) {
        if (verdict.askRepeat) hosts.commands.push_back(CMD_REPEAT);
        if (verdict.row >= 0) {
            if (journal) journal->RowAdded(verdict.row, core.RecordOf(verdict.row));
            hosts.commands.push_back(CMD_ACK);
            hosts.addedRows.push_back(verdict.row);
        }
        hosts.nearlyFull += verdict.nearlyFull;
        hosts.tableFull += verdict.tableFull;
    }
    std::wstring Cell(int row, int column) const { return core.Table().Cell(row, column); }
    int Rows() const { return core.Table().RowCount(); }

    TempDir dir;
    std::filesystem::path languageFile;
    CTextLookup texts;
    RecordedVerdicts hosts;
    CJournal* journal = nullptr;  // each row is written there as the session does
    int64_t now = 1796565787;
    CWeighingCore core;
    CFrameLink link;
};

// A good weight frame with its check byte.
inline std::vector<uint8_t> WeightFrame(uint8_t status, uint32_t raw) {
    std::vector<uint8_t> f{0x5F, status, static_cast<uint8_t>(raw >> 16),
                           static_cast<uint8_t>(raw >> 8), static_cast<uint8_t>(raw)};
    f.push_back(static_cast<uint8_t>(f[0] ^ f[1] ^ f[2] ^ f[3] ^ f[4]));
    return f;
}

}  // namespace tarvex::test
