#include "session/JournalOffer.h"

#include <algorithm>

#include "text/BoxTexts.h"
#include "text/TextCodec.h"
#include "session/DeskName.h"

namespace tarvex {
namespace {

std::wstring JournalFailedText(const CTextLookup& texts, const std::filesystem::path& folder,
                               const std::wstring& reason) {
    return MessageText(texts, L"Journal_Failed", {{L"{folder}", WideFromPath(folder)}, {L"{reason}", reason}});
}

// Where the journal as it was before its damaged lines were skipped is kept.
std::wstring DamagedOriginal(const CJournal& journal) {
    return WideFromPath(journal.DamagedCopyMade() ? journal.LastSetAside() : journal.Path());
}

bool AskToShowAgain(const JournalOffer& o, const CJournal& journal) {
    const JournalContents& found = journal.Found();
    std::wstring question =
        RestoreQuestion(o.texts, static_cast<long long>(found.rows.size()), found.rows.front().cells[COLUMN_UPDATE_TIME],
                        found.rows.back().cells[COLUMN_UPDATE_TIME], WideFromPath(o.folder));
    if (found.damagedLines > 0)
        question += L"\n\n" + DamagedLinesText(o.texts, found.damagedLines, DamagedOriginal(journal));
    return o.ui.AskYesNo(question) == ANSWER_YES;
}

void TellRowsKeptAside(const JournalOffer& o, int count, const std::filesystem::path& file) {
    o.ui.Tell(RowsKeptAsideText(o.texts, count, WideFromPath(file)));
}

// The rows not wanted could not be copied aside: where they stay.
void TellNotSetAside(const JournalOffer& o, const std::wstring& reason, const CJournal& journal) {
    if (journal.IsOpen() || &journal != &o.journal) {
        o.ui.Tell(MessageText(o.texts, L"Journal_Left_In_Place",
                              {{L"{reason}", reason}, {L"{file}", WideFromPath(journal.Path())}}));
    } else {
        // Nothing could follow the rows left there: this run keeps no journal.
        o.ui.Tell(JournalFailedText(o.texts, o.folder, reason));
    }
}

void RestoreRows(const JournalOffer& o, const std::vector<RowRecord>& rows) {
    if (o.core.RestoreRows(rows)) o.ui.ShowNoticeNoWait(o.texts.Text(SECTION_MESSAGE, L"Data_Warning"));
    o.ui.RowsChanged();
}

// Journals of other copies that ended without closing, one after the other.
void OfferOthersLeftBehind(const JournalOffer& o) {
    std::wstring reason;
    for (const std::filesystem::path& path : o.journal.OthersLeftBehind()) {
        CJournal other;
        const int room = std::max(o.core.RowCapacity() - o.core.Table().RowCount(), 0);
        if (!other.OpenLeftBehind(path, room)) continue;
        const JournalContents& more = other.Found();
        if (more.rows.empty()) continue;  // no room left in the table: offered at the next start
        if (AskToShowAgain(o, other)) {
            const int first = o.core.Table().RowCount();
            RestoreRows(o, more.rows);
            o.journalOutput.RowsHandedOver(first);
            // Only once its rows are in this run's journal does the file go.
            if (!o.journal.IsOpen() || o.journal.HasFailed()) continue;
            // Rows it keeps for a copy of their own go aside with the file.
            if (more.droppedRows == 0 && more.keptBytes == 0) {
                other.Remove();
            } else if (!other.MoveAside(&reason)) {
                TellNotSetAside(o, reason, other);
            } else if (more.droppedRows > 0) {
                TellRowsKeptAside(o, more.droppedRows, other.LastSetAside());
            }
        } else if (!other.MoveAside(&reason)) {
            TellNotSetAside(o, reason, other);
        }
    }
}

}  // namespace

void OfferJournalRows(const JournalOffer& o) {
    std::wstring reason;
    if (!o.journal.Open(o.folder, reason, o.core.RowCapacity())) {
        o.core.SetDesk(DeskName(o.deskName, 1), 0);
        o.ui.Tell(JournalFailedText(o.texts, o.folder, reason));
        return;
    }
    o.journal.SetDesk(DeskName(o.deskName, o.journal.Slot()));
    o.core.SetDesk(o.journal.Desk(), o.journal.LastSeq());
    // The journal outlives this call: its reports take copies, not the offer.
    ISessionUi& ui = o.ui;
    const CTextLookup& texts = o.texts;
    const std::filesystem::path folder = o.folder;
    o.journal.OnFailure([&ui, &texts, folder](const std::wstring& why) {
        ui.ShowNoticeNoWait(JournalFailedText(texts, folder, why));
    });
    o.journal.OnRecovered([&ui, &texts, folder] {
        ui.ShowNoticeNoWait(MessageText(texts, L"Journal_Safe_Again", {{L"{folder}", WideFromPath(folder)}}));
    });
    CJournal& journal = o.journal;
    o.journal.OnKeptInPlace([&ui, &texts, &journal](const std::wstring& why) {
        ui.ShowNoticeNoWait(MessageText(texts, L"Journal_Left_In_Place",
                                        {{L"{reason}", why}, {L"{file}", WideFromPath(journal.Path())}}));
    });
    if (!o.journal.NotAFile().empty())
        o.ui.Tell(MessageText(o.texts, L"Journal_Not_A_File", {{L"{file}", WideFromPath(o.journal.NotAFile())}}));
    const JournalContents& found = o.journal.Found();
    if (found.state != JournalState::Rows) {
        // One that cannot be read is kept aside quietly; damage is told.
        if (found.damagedLines > 0 && found.state != JournalState::Unreadable)
            o.ui.Tell(DamagedLinesText(o.texts, found.damagedLines, DamagedOriginal(o.journal)));
        o.journal.ContinueWithFound();
    } else if (AskToShowAgain(o, o.journal)) {
        const int dropped = found.droppedRows;
        RestoreRows(o, found.rows);
        o.journal.ContinueWithFound();
        if (dropped > 0) {
            // In a file of their own, or behind a mark in the journal itself.
            const auto& aside = o.journal.LastSetAside();
            TellRowsKeptAside(o, dropped, aside.empty() ? o.journal.Path() : aside);
        }
    } else if (!o.journal.SetFoundAside(&reason)) {
        TellNotSetAside(o, reason, o.journal);
    }
    if (!o.journal.ReadOnlyReason().empty()) {
        o.ui.Tell(MessageText(o.texts, L"Journal_Read_Only", {{L"{file}", WideFromPath(o.journal.Path())},
                                                              {L"{reason}", o.journal.ReadOnlyReason()}}));
    }
    OfferOthersLeftBehind(o);
}

}  // namespace tarvex
