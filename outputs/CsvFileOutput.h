#pragma once
// The live CSV file: each reading the journal keeps becomes one line at the
// file's end, handed to the system at once. The file is opened for each
// line, sharing it with whoever holds it open; while it cannot be written
// (held for itself alone, a full disk, a share gone) the lines wait in
// order and go once it can be again, each exactly once.

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "outputs/QueuedOutput.h"

namespace tarvex {

class CCsvFileOutput : public ISlowOutput {
public:
    // told(written, error): on the output's thread, when writing stops
    // (with errno; EWOULDBLOCK: another program holds the file for itself
    // alone) and when it works again (0).
    using Told = std::function<void(bool written, int error)>;
    CCsvFileOutput(std::filesystem::path file, char separator, std::wstring remarkPrefix, Told told);

    // The seq of the file's last whole line of this desk; 0 when there is
    // none or the file cannot be read. Lines after it come from the journal.
    uint64_t LastSeqWritten(const std::string& desk) const;

    bool Deliver(const RowRecord& reading) override;
    // From the window's thread, after a change of language.
    void SetRemarkPrefix(std::wstring prefix);
    std::chrono::milliseconds RetryPause() const override { return std::chrono::seconds(1); }

private:
    // errno when it failed, 0 when the line is there.
    int Append(const std::string& line);

    const std::filesystem::path m_file;
    const char m_separator;
    std::mutex m_prefixLock;
    std::wstring m_remarkPrefix;
    Told m_told;
    bool m_failing = false;
};

}  // namespace tarvex
