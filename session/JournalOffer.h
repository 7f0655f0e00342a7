#pragma once
// At start-up: this run's journal is opened, and the rows an earlier run left
// in it (or in the journal of another copy that ended without closing) are
// offered back: shown again, or kept aside under a dated name.

#include <filesystem>

#include "journal/Journal.h"
#include "session/JournalOutput.h"
#include "session/SessionUi.h"
#include "text/TextLookup.h"
#include "weighing/WeighingCore.h"

namespace tarvex {

struct JournalOffer {
    CJournal& journal;
    CJournalOutput& journalOutput;  // takes rows handed over from other copies
    CWeighingCore& core;
    const CTextLookup& texts;
    ISessionUi& ui;
    std::filesystem::path folder;  // where the journals are kept
    std::string deskName;          // as "Setting.ini" gives it (UTF-8), empty for none
};

// The desk and its count come from the journal taken. Without a journal the
// table works as before; the user is told that a crash would cost the
// readings not yet saved.
void OfferJournalRows(const JournalOffer& offer);

}  // namespace tarvex
