// Frame judging under arbitrary bursts. Input: bursts, each a length byte
// (0-31) and that many bytes. After each burst while connected, either one
// new row and one 0x9F, or no row and one 0xF9; never two 0xF9 in a row.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "FuzzCheck.h"
#include "TextLookup.h"
#include "WeighingCore.h"

namespace tarvex {
namespace {

class Hosts : public IScaleLink, public IUserPrompts, public ITableView, public ITableSaver {
public:
    void SendCommand(uint8_t command) override { commands.push_back(command); }
    void SignalReply() override {}
    void SendStopAndEnd() override {}
    void ApplyDisconnected() override {}
    void RestartLink() override {}
    int AskYesNo(const std::wstring&) override { return ANSWER_NO; }
    void ShowNoticeNoWait(const std::wstring&) override {}
    void RowAdded(int) override {}
    void RowsChanged() override {}
    bool SaveTableToExcel(bool) override { return false; }
    std::vector<uint8_t> commands;
};


}  // namespace
}  // namespace tarvex

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    Hosts hosts;
    CTextLookup texts;
    CWeighingCore core({hosts, hosts, hosts, hosts}, texts, [] { return int64_t{1796565787}; });
    core.SetConnected(true);
    bool lastWasRepeat = false;
    for (size_t at = 0; at < size;) {
        const size_t length = data[at++] % 32;
        const size_t take = length < size - at ? length : size - at;
        const int rowsBefore = core.Table().RowCount();
        const size_t commandsBefore = hosts.commands.size();
        core.OnSerialData(data + at, static_cast<int>(take));
        at += take;
        const int newRows = core.Table().RowCount() - rowsBefore;
        Check(hosts.commands.size() == commandsBefore + 1);
        const uint8_t sent = hosts.commands.back();
        if (newRows == 1) {
            Check(sent == CMD_ACK);
            lastWasRepeat = false;
        } else {
            Check(newRows == 0 && sent == CMD_REPEAT && !lastWasRepeat);
            lastWasRepeat = true;
        }
    }
    return 0;
}
