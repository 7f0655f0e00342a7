#pragma once
// Hosts for the weighing core that do nothing, for tests, benches and
// fuzzers to override only what they look at.

#include "weighing/FrameLink.h"
#include "weighing/WeighingCore.h"

namespace tarvex::test {

class NullHosts : public IScaleLink, public IFrameLinkHost, public IUserPrompts, public ITableView, public ITableSaver {
public:
    void SendCommand(uint8_t) override {}
    void AnswerArrived(uint8_t) override {}
    void WatchLineQuiet(bool) override {}
    void SendStopAndEnd() override {}
    void ApplyDisconnected() override {}
    void RestartLink() override {}
    int AskYesNo(const std::wstring&) override { return answer; }
    void ShowNoticeNoWait(const std::wstring&) override {}
    void HideNoticeNoWait() override {}
    void RowAdded(int) override {}
    void RowsChanged() override {}
    bool SaveTableToExcel(bool, int&) override { return false; }

    WeighingHosts Hosts() { return {*this, *this, *this, *this}; }

    int answer = ANSWER_NO;
};

}  // namespace tarvex::test
