#include "outputs/CsvFileOutput.h"

#include <cerrno>

#include "files/FileCalls.h"
#include "outputs/CsvLine.h"

namespace tarvex {
namespace {

// The byte-order mark lets a spreadsheet read the words as UTF-8.
constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

}  // namespace

CCsvFileOutput::CCsvFileOutput(std::filesystem::path file, char separator, std::wstring remarkPrefix, Told told)
    : m_file(std::move(file)), m_separator(separator), m_remarkPrefix(std::move(remarkPrefix)),
      m_told(std::move(told)) {}

int CCsvFileOutput::Append(const std::string& line) {
    const int fd = OpenToAppend(m_file);
    if (fd < 0) return errno;
    const long long length = FileLength(fd);
    std::string bytes;
    if (length == 0) bytes = std::string(UTF8_BOM) + CsvHeaderLine(m_separator);
    bytes += line;
    int error = 0;
    if (length < 0 || !WriteAll(fd, bytes)) {
        error = errno != 0 ? errno : EIO;
        // A line written in part would be written again whole.
        if (length >= 0) TruncateTo(fd, static_cast<size_t>(length));
    }
    CloseFile(fd);
    return error;
}

void CCsvFileOutput::SetRemarkPrefix(std::wstring prefix) {
    std::lock_guard<std::mutex> guard(m_prefixLock);
    m_remarkPrefix = std::move(prefix);
}

bool CCsvFileOutput::Deliver(const RowRecord& reading) {
    ReadingFields fields;
    {
        std::lock_guard<std::mutex> guard(m_prefixLock);
        fields = FieldsOf(reading, m_remarkPrefix);
    }
    const int error = Append(CsvLine(fields, m_separator));
    const bool written = error == 0;
    if (written != !m_failing) {
        m_failing = !written;
        if (m_told) m_told(written, error);
    }
    return written;
}

}  // namespace tarvex
