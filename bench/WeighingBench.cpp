// Throughput of the weighing core: frames judged and added as rows, and one
// unit switch over a full table.

#include <benchmark/benchmark.h>

#include <ctime>

#include "TextLookup.h"
#include "WeighingCore.h"
#include "WeightText.h"

namespace tarvex {
namespace {

class NullHosts : public IScaleLink, public IUserPrompts, public ITableView, public ITableSaver {
public:
    void SendCommand(uint8_t command) override { lastCommand = command; }
    void SignalReply() override {}
    void SendStopAndEnd() override {}
    void ApplyDisconnected() override {}
    void RestartLink() override {}
    int AskYesNo(const std::wstring&) override { return ANSWER_YES; }
    void ShowNoticeNoWait(const std::wstring&) override {}
    void RowAdded(int row) override { lastRow = row; }
    void RowsChanged() override {}
    bool SaveTableToExcel(bool) override { return false; }
    WeighingHosts Hosts() { return {*this, *this, *this, *this}; }

    uint8_t lastCommand = 0;
    int lastRow = 0;
};

uint8_t CheckByte(const uint8_t* f) { return static_cast<uint8_t>(f[0] ^ f[1] ^ f[2] ^ f[3] ^ f[4]); }

void BM_IngestFrames(benchmark::State& state) {
    NullHosts hosts;
    CTextLookup texts;
    CWeighingCore core(hosts.Hosts(), texts);
    core.SetConnected(true);
    uint8_t frame[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0};
    uint32_t raw = 12345;
    for (auto _ : state) {
        frame[3] = static_cast<uint8_t>(raw >> 8);
        frame[4] = static_cast<uint8_t>(raw);
        frame[5] = CheckByte(frame);
        core.OnSerialData(frame, 6);
        raw = (raw + 7) & 0xFFFF;
        if (core.Table().RowCount() >= 50000) {
            state.PauseTiming();
            core.OnClearData();  // the hosts answer yes
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(hosts.lastCommand);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IngestFrames);

void BM_UnitSwitch65000(benchmark::State& state) {
    NullHosts hosts;
    CTextLookup texts;
    CWeighingCore core(hosts.Hosts(), texts);
    core.SetConnected(true);
    uint8_t frame[6] = {0x5F, 0x08, 0x00, 0x00, 0x00, 0};
    for (uint32_t i = 0; i < 65000; ++i) {
        const uint32_t raw = 1000 + (i * 37) % 90000;
        frame[2] = static_cast<uint8_t>(raw >> 16);
        frame[3] = static_cast<uint8_t>(raw >> 8);
        frame[4] = static_cast<uint8_t>(raw);
        frame[5] = CheckByte(frame);
        core.OnSerialData(frame, 6);
    }
    int unit = UNIT_KG;
    for (auto _ : state) {
        unit = unit == UNIT_LB ? UNIT_LBOZ : UNIT_LB;
        core.SwitchUnit(unit);
    }
    state.SetItemsProcessed(state.iterations() * core.Table().RowCount());
}
BENCHMARK(BM_UnitSwitch65000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex
