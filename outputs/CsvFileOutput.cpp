#include "outputs/CsvFileOutput.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>

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

uint64_t CCsvFileOutput::LastSeqWritten(const std::string& desk) const {
    std::ifstream file(m_file, std::ios::binary | std::ios::ate);
    if (!file) return 0;
    const std::streamoff length = file.tellg();
    const std::streamoff tail = std::min<std::streamoff>(length, 65536);
    std::string bytes(static_cast<size_t>(tail), '\0');
    file.seekg(length - tail);
    if (!file.read(bytes.data(), tail)) return 0;
    // The last line that ended; one cut short by a crash does not count.
    const size_t end = bytes.rfind('\n');
    if (end == std::string::npos) return 0;
    const size_t begin = bytes.rfind('\n', end == 0 ? 0 : end - 1);
    if (begin == std::string::npos && tail < length) return 0;
    std::string_view line = std::string_view(bytes).substr(begin == std::string::npos ? 0 : begin + 1);
    line = line.substr(0, line.find_first_of("\r\n"));
    const std::vector<std::string> fields = CsvFields(line, m_separator);
    if (fields.size() < 2 || fields[0] != desk) return 0;
    uint64_t seq = 0;
    const auto [ptr, error] = std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), seq);
    return error == std::errc() && ptr == fields[1].data() + fields[1].size() ? seq : 0;
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
