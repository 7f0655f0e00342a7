#pragma once
// Where readings go besides the table. The session hands every output the
// same three events, on the window's thread, in a fixed order: the journal
// first, then the scale's acknowledge, then the window, then the others in
// the order they were added (only readings the journal has kept go past
// the window). An output returns at once; one that does slow
// work hands it to a thread of its own (see QueuedOutput.h).

#include <optional>
#include <string>

#include "weighing/RowRecord.h"
#include "weighing/WeighingCore.h"

namespace tarvex {

class AddedReading {
public:
    AddedReading(const CWeighingCore& core, int tableRow) : row(tableRow), m_core(core) {}
    const int row;  // where it stands in the table now
    // With desk and seq; made when an output first asks for it.
    const RowRecord& Record() const {
        if (!m_record) m_record = m_core.RecordOf(row);
        return *m_record;
    }

private:
    const CWeighingCore& m_core;
    mutable std::optional<RowRecord> m_record;
};

struct ClearedRows {
    int count = 0;         // the first rows of the table that went
    bool all = false;      // the table is empty now
    bool unsaved = false;  // they are in no workbook (a full table whose save failed)
};

// What the status line tells of the link and the table.
enum class LinkState { Connected, Connecting, Waiting, Closed };
struct DeskState {
    std::string desk;  // UTF-8
    LinkState link = LinkState::Closed;
    std::wstring port;  // "COM3"
    int unit = 0;       // UNIT_*
    int readings = 0;   // rows in the table
    uint64_t lastSeq = 0;
};

// A scale's newest live weight: shown, never kept. Weight and unit as the
// scale sent them, empty when it gave none.
struct LiveWeightState {
    std::string desk;
    std::string weight;
    std::string unit;
    std::optional<double> kilograms;
    std::string state;      // "stable", "motion", "over", "under", "fault", "no-weight", "no-answer"
    std::wstring stateText; // in the desk's language
};

class IReadingOutput {
public:
    virtual ~IReadingOutput() = default;
    virtual void ReadingAdded(const AddedReading& reading) = 0;
    virtual void RowsCleared(const ClearedRows& cleared) = 0;
    virtual void LinkStateChanged(bool connected) = 0;
    // Readings from seq on were not handed over while the journal could not
    // keep them; the journal holds them now (those still in the table), the
    // newest reading with them, which comes no other way.
    virtual void ReadingsHeldBack(uint64_t seq) { (void)seq; }
    // After anything the status line shows changed.
    virtual void DeskStateChanged(const DeskState& state) { (void)state; }
    // A scale's live weight or its state changed (scales that are asked).
    virtual void LiveWeightChanged(const LiveWeightState& live) { (void)live; }
};

}  // namespace tarvex
