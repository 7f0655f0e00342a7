#pragma once
// What the weighing core asks of the rest of the program. The window and the
// serial link implement these; tests implement them by recording.

#include <cstdint>
#include <functional>
#include <string>

#include "outputs/JournalFormat.h"

namespace tarvex {

// Commands to the scale.
constexpr uint8_t CMD_HANDSHAKE = 0x5A;
constexpr uint8_t CMD_ACK = 0x9F;
constexpr uint8_t CMD_REPEAT = 0xF9;
constexpr uint8_t CMD_STOP = 0x3A;

// First bytes of what the scale sends.
constexpr uint8_t FRAME_WEIGHT = 0x5F;
constexpr uint8_t FRAME_OVERWEIGHT = 0x3F;
constexpr uint8_t FRAME_HANDSHAKE_REPLY = 0xA5;

// Answers of a yes/no question.
constexpr int ANSWER_YES = 6;
constexpr int ANSWER_NO = 7;
constexpr int ANSWER_CANCEL = 2;

class IScaleLink {
public:
    virtual ~IScaleLink() = default;
    virtual void SendCommand(uint8_t command) = 0;  // queued; goes out on the reader thread
    // 0x3A goes out after every command already queued, then the reader ends.
    virtual void SendStopAndEnd() = 0;
    virtual void ApplyDisconnected() = 0;           // caption, flag and controls
    // Open the selected port again and greet the scale, once the burst being
    // handled now has been returned to the reader.
    virtual void RestartLink() = 0;
};

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    virtual int AskYesNo(const std::wstring& text) = 0;          // ANSWER_*
    virtual void ShowNoticeNoWait(const std::wstring& text) = 0; // readings keep arriving
    virtual void HideNoticeNoWait() = 0;                         // it no longer holds
};

class ITableView {
public:
    virtual ~ITableView() = default;
    virtual void RowAdded(int row) = 0;  // show it and scroll it into view
    virtual void RowsChanged() = 0;      // rows removed or cells rewritten
};

class ITableSaver {
public:
    virtual ~ITableSaver() = default;
    // Saves the whole table; true when the file was written, with the
    // number of rows it holds (rows arriving during the save may follow them).
    virtual bool SaveTableToExcel(bool bAuto, int& rowsSaved) = 0;
};

// Keeps every row on disk as it is added (see Journal.h).
class IRowJournal {
public:
    virtual ~IRowJournal() = default;
    // Before the row's acknowledge is asked for.
    virtual void RowAdded(int row, const JournalRow& record) = 0;
    // The table was emptied; keepAside when its rows were never saved.
    virtual void TableEmptied(bool keepAside) = 0;
    // The first rows were cleared; the rows after them stay and are now
    // numbered from 0.
    virtual void FirstRowsCleared(int count) = 0;
    // After a failed write: true when the whole table should be written anew.
    virtual bool WantsWholeTable() = 0;
    virtual void WriteWholeTable(int rows, const std::function<JournalRow(int row)>& rowAt) = 0;
};

}  // namespace tarvex
