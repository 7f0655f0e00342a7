#pragma once
// Hosts for the weighing core that record what it asked for and answer its
// questions from a script, so tests can see commands, prompts and saves.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tests/TempDir.h"
#include "localisation/TextLookup.h"
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

class RecordingHosts : public IScaleLink, public IFrameLinkHost, public IUserPrompts, public ITableView, public ITableSaver {
public:
    void SendCommand(uint8_t command) override { commands.push_back(command); }
    void AnswerArrived(uint8_t firstByte) override { answersArrived.push_back(firstByte); }
    void WatchLineQuiet(bool open) override { quietWatched = open; }
    void SendStopAndEnd() override {
        commands.push_back(CMD_STOP);
        ++stops;
    }
    void ApplyDisconnected() override {
        ++disconnects;
        if (link) link->SetConnected(false);
    }
    void RestartLink() override { ++restarts; }

    int AskYesNo(const std::wstring& text) override {
        questions.push_back(text);
        // Readings that arrive while the question stands.
        if (link) for (const auto& frame : framesDuringQuestion) link->OnSerialData(frame.data(), static_cast<int>(frame.size()));
        if (answers.empty()) return ANSWER_CANCEL;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowNoticeNoWait(const std::wstring& text) override { notices.push_back(text); }
    void HideNoticeNoWait() override { ++noticesHidden; }

    void RowAdded(int row) override { addedRows.push_back(row); }
    void RowsChanged() override { ++rowsChanged; }

    bool SaveTableToExcel(bool bAuto, int& rowsSaved) override {
        saves.push_back(bAuto);
        // Readings that arrive while the save dialog is open go into the workbook.
        if (link) for (const auto& frame : framesDuringSave) link->OnSerialData(frame.data(), static_cast<int>(frame.size()));
        rowsSaved = core ? core->Table().RowCount() : 0;
        savedRowCounts.push_back(rowsSaved);
        return saveSucceeds;
    }

    WeighingHosts Hosts() { return {*this, *this, *this, *this}; }

    CWeighingCore* core = nullptr;
    CFrameLink* link = nullptr;
    std::vector<uint8_t> answersArrived;  // first bytes of bursts while no link was open
    std::vector<uint8_t> commands;
    int stops = 0, disconnects = 0, restarts = 0, rowsChanged = 0, noticesHidden = 0;
    std::vector<std::wstring> questions, notices;
    std::deque<int> answers;
    std::vector<int> addedRows;
    std::vector<bool> saves;
    std::vector<int> savedRowCounts;
    bool saveSucceeds = true;
    std::vector<std::vector<uint8_t>> framesDuringSave, framesDuringQuestion;
    bool quietWatched = false;
};

// A connected core over the test language file, with a clock the test sets.
struct CoreFixture {
    explicit CoreFixture(RowLimits limits = {})
        : languageFile(dir.Write("Test.ini", kTestLanguage)),
          core(hosts.Hosts(), TextsFor(texts, languageFile), [this] { return now; }, limits),
          link(core, hosts) {
        hosts.core = &core;
        hosts.link = &link;
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
        link.OnSerialData(bytes.data(), static_cast<int>(bytes.size()));
    }
    // The window's timer runs out only when the core asked for it.
    void Quiet() {
        if (hosts.quietWatched) {
            hosts.quietWatched = false;
            link.OnLineQuiet();
        }
    }
    std::wstring Cell(int row, int column) const { return core.Table().Cell(row, column); }
    int Rows() const { return core.Table().RowCount(); }

    TempDir dir;
    std::filesystem::path languageFile;
    CTextLookup texts;
    RecordingHosts hosts;
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
