#include "JournalFormat.h"

#include <charconv>

#include "TextCodec.h"

namespace tarvex {
namespace {

constexpr int ROW_FIELDS = 6 + COLUMN_COUNT;  // R, row, kind, kg, time, cells, crc

const char HEX[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, std::wstring_view cell) {
    for (const char c : Utf8FromWide(cell)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || b == '\\') {
            out += "\\x";
            out += HEX[b >> 4];
            out += HEX[b & 0x0F];
        } else {
            out += c;
        }
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view field, std::wstring& cell) {
    std::string bytes;
    bytes.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes += field[i];
            continue;
        }
        if (i + 3 >= field.size()) return false;
        if (field[i + 1] != 'x') return false;
        const int high = HexValue(field[i + 2]), low = HexValue(field[i + 3]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 3;
    }
    cell = WideFromUtf8(bytes);
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

std::string Hex32(uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = HEX[value & 0x0F];
    return text;
}

bool ParseRow(std::string_view line, int expectedRow, JournalRow& row) {
    std::string_view fields[ROW_FIELDS];
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (count == ROW_FIELDS) return false;
        fields[count++] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (count != ROW_FIELDS || fields[0] != "R") return false;
    const std::string_view checked = line.substr(0, line.size() - fields[ROW_FIELDS - 1].size());
    if (fields[ROW_FIELDS - 1] != Hex32(Crc32(checked))) return false;
    int number = -1;
    if (!ParseNumber(fields[1], number) || number != expectedRow) return false;
    if (fields[2].size() != 1) return false;
    const char kind = fields[2][0];
    if (kind != 'W' && kind != 'O' && kind != 'E') return false;
    row.kind = static_cast<RowKind>(kind);
    if (!ParseNumber(fields[3], row.kilograms) || !ParseNumber(fields[4], row.time)) return false;
    for (int c = 0; c < COLUMN_COUNT; ++c)
        if (!Unescape(fields[5 + c], row.cells[static_cast<size_t>(c)])) return false;
    return true;
}

}  // namespace

uint32_t Crc32(std::string_view bytes) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string JournalHeader() {
    return std::string(JOURNAL_MAGIC) + "\t" + std::to_string(JOURNAL_VERSION) + "\n";
}

std::string FormatJournalLine(int row, const JournalRow& record) {
    std::string line = "R\t" + std::to_string(row) + "\t" + static_cast<char>(record.kind) + "\t";
    char number[32];
    const auto res = std::to_chars(number, number + sizeof number, record.kilograms);
    line.append(number, res.ptr);
    line += "\t" + std::to_string(record.time);
    for (const std::wstring& cell : record.cells) {
        line += '\t';
        AppendEscaped(line, cell);
    }
    line += '\t';
    line += Hex32(Crc32(line));
    line += '\n';
    return line;
}

JournalContents ReadJournal(std::string_view bytes) {
    JournalContents contents;
    const size_t headerEnd = bytes.find('\n');
    if (headerEnd == std::string_view::npos) {
        // Nothing, or a header cut off while it was written: no rows either way.
        const std::string header = JournalHeader();
        if (std::string_view(header).substr(0, bytes.size()) != bytes) contents.state = JournalState::Unreadable;
        return contents;
    }
    const std::string_view header = bytes.substr(0, headerEnd);
    const std::string_view prefix =
        header.substr(0, JOURNAL_MAGIC.size()) == JOURNAL_MAGIC ? header.substr(JOURNAL_MAGIC.size()) : "";
    int version = 0;
    if (prefix.size() < 2 || prefix[0] != '\t' || !ParseNumber(prefix.substr(1), version) ||
        version != JOURNAL_VERSION) {
        contents.state = JournalState::Unreadable;  // not ours, or from a newer program
        return contents;
    }
    size_t at = headerEnd + 1;
    contents.wholeBytes = at;
    while (at < bytes.size()) {
        const size_t end = bytes.find('\n', at);
        JournalRow row;
        if (end == std::string_view::npos ||
            !ParseRow(bytes.substr(at, end - at), static_cast<int>(contents.rows.size()), row)) {
            contents.damaged = true;
            break;
        }
        contents.rows.push_back(std::move(row));
        at = end + 1;
        contents.wholeBytes = at;
    }
    contents.state = contents.rows.empty() ? JournalState::Empty : JournalState::Rows;
    return contents;
}

}  // namespace tarvex
