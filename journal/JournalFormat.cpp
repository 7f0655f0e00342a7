#include "journal/JournalFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "text/TextCodec.h"

namespace tarvex {
namespace {

// R, row, [desk, seq,] kind, kg, time, cells, [digits, unit,] crc
constexpr int ROW_FIELDS_V1 = 6 + COLUMN_COUNT;
constexpr int ROW_FIELDS_V2 = 8 + COLUMN_COUNT;
constexpr int ROW_FIELDS = 10 + COLUMN_COUNT;
constexpr int RowFields(int version) {
    return version == 1 ? ROW_FIELDS_V1 : version == 2 ? ROW_FIELDS_V2 : ROW_FIELDS;
}
// Where the scale's digits and unit stand (version 3 on).
constexpr int SCALE_DIGITS_FIELD = 7 + COLUMN_COUNT;
// Far above any desk scale's capacity; a row beyond it is no reading.
constexpr double MAX_KILOGRAMS = 1e6;

// Where kind, kilograms and time stand.
constexpr int FirstValue(int version) { return version == 1 ? 2 : 4; }

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

// Splits a line at its tabs into at most maxFields fields; 0 when it has more.
int SplitFields(std::string_view line, std::string_view* fields, int maxFields) {
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (count == maxFields) return 0;
        fields[count++] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos) return count;
        start = tab + 1;
    }
}

bool CheckSum(std::string_view line, std::string_view lastField) {
    return lastField == Hex32(Crc32(line.substr(0, line.size() - lastField.size())));
}

bool EscapesValid(std::string_view field) {
    for (size_t i = field.find('\\'); i != std::string_view::npos; i = field.find('\\', i + 4)) {
        if (i + 3 >= field.size() || field[i + 1] != 'x' || HexValue(field[i + 2]) < 0 || HexValue(field[i + 3]) < 0)
            return false;
    }
    return true;
}

// What a row line says of the reading's identity, undecoded.
struct RowIdentity {
    int number = 0;               // the row it held in the table
    std::string_view desk;        // escaped as written
    uint64_t seq = 0;
};

// A whole, unaltered row line. Its cells are not decoded.
bool CheckRow(std::string_view line, int version, RowIdentity& id) {
    std::string_view fields[ROW_FIELDS];
    const int count = RowFields(version);
    if (SplitFields(line, fields, count) != count || fields[0] != "R") return false;
    if (!CheckSum(line, fields[count - 1])) return false;
    if (!ParseNumber(fields[1], id.number) || id.number < 0) return false;
    if (version > 1 && (!EscapesValid(fields[2]) || !ParseNumber(fields[3], id.seq))) return false;
    if (version > 1) id.desk = fields[2];
    const int first = FirstValue(version);
    if (fields[first].size() != 1) return false;
    const char kind = fields[first][0];
    if (kind != 'W' && kind != 'O' && kind != 'E') return false;
    double kilograms = 0;
    int64_t time = 0;
    if (!ParseNumber(fields[first + 1], kilograms) || !ParseNumber(fields[first + 2], time)) return false;
    // "nan", "inf" and 1e300 are numbers to the parser, never a weighing.
    if (!std::isfinite(kilograms) || std::fabs(kilograms) > MAX_KILOGRAMS) return false;
    for (int c = 0; c < COLUMN_COUNT; ++c)
        if (!EscapesValid(fields[first + 3 + c])) return false;
    if (version > 2 && (!EscapesValid(fields[SCALE_DIGITS_FIELD]) || !EscapesValid(fields[SCALE_DIGITS_FIELD + 1])))
        return false;
    return true;
}

// Decodes a line CheckRow accepted.
RowRecord DecodeRow(std::string_view line, int version) {
    std::string_view fields[ROW_FIELDS];
    SplitFields(line, fields, RowFields(version));
    RowRecord row;
    if (version > 1) {
        std::wstring desk;
        Unescape(fields[2], desk);
        row.desk = Utf8FromWide(desk);
        ParseNumber(fields[3], row.seq);
    }
    const int first = FirstValue(version);
    row.kind = static_cast<RowKind>(fields[first][0]);
    ParseNumber(fields[first + 1], row.kilograms);
    ParseNumber(fields[first + 2], row.time);
    for (int c = 0; c < COLUMN_COUNT; ++c) Unescape(fields[first + 3 + c], row.cells[static_cast<size_t>(c)]);
    if (version > 2) {
        std::wstring text;
        Unescape(fields[SCALE_DIGITS_FIELD], text);
        row.scaleDigits = Utf8FromWide(text);
        Unescape(fields[SCALE_DIGITS_FIELD + 1], text);
        row.scaleUnit = Utf8FromWide(text);
    }
    return row;
}

// A whole S line.
bool CheckSeq(std::string_view line, std::string_view& desk, uint64_t& seq) {
    std::string_view fields[4];
    if (SplitFields(line, fields, 4) != 4 || fields[0] != "S" || !CheckSum(line, fields[3])) return false;
    desk = fields[1];
    return EscapesValid(desk) && ParseNumber(fields[2], seq);
}

// The journal's version from its header line; 0 when it is none we read.
int HeaderVersion(std::string_view line) {
    const std::string_view prefix =
        line.substr(0, JOURNAL_MAGIC.size()) == JOURNAL_MAGIC ? line.substr(JOURNAL_MAGIC.size()) : "";
    int version = 0;
    if (prefix.size() < 2 || prefix[0] != '\t' || !ParseNumber(prefix.substr(1), version)) return 0;
    return version >= 1 && version <= JOURNAL_VERSION ? version : 0;
}

// A whole X or K line; count is how many rows left the table.
bool CheckCleared(std::string_view line, std::string_view mark, int& count) {
    std::string_view fields[3];
    return SplitFields(line, fields, 3) == 3 && fields[0] == mark && CheckSum(line, fields[2]) &&
           ParseNumber(fields[1], count) && count > 0;
}

std::string CountLine(const char* mark, int count) {
    std::string line(mark);
    line += '\t';
    line += std::to_string(count);
    line += '\t';
    line += Hex32(Crc32(line));
    line += '\n';
    return line;
}

// No row is longer: six cells of at most a few thousand bytes, escaped.
constexpr size_t MAX_LINE_BYTES = 1 << 20;

}  // namespace

uint32_t Crc32(std::string_view bytes) {
    // Eight bytes a step (slicing by eight): a journal of millions of rows
    // is checked in a fraction of a second.
    static const auto tables = [] {
        std::array<std::array<uint32_t, 256>, 8> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t low = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
    }
    for (; n > 0; --n, ++p) crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string JournalHeader() {
    return std::string(JOURNAL_MAGIC) + "\t" + std::to_string(JOURNAL_VERSION) + "\n";
}

std::string FormatSeqLine(std::string_view desk, uint64_t lastSeq) {
    std::string line = "S\t";
    AppendEscaped(line, WideFromUtf8(desk));
    line += "\t" + std::to_string(lastSeq) + "\t";
    line += Hex32(Crc32(line));
    line += '\n';
    return line;
}

std::string JournalStart(std::string_view desk, uint64_t lastSeq) { return JournalHeader() + FormatSeqLine(desk, lastSeq); }

std::string FormatJournalLine(int row, const RowRecord& record) {
    std::string line = "R\t" + std::to_string(row) + "\t";
    AppendEscaped(line, WideFromUtf8(record.desk));
    line += "\t" + std::to_string(record.seq) + "\t" + static_cast<char>(record.kind) + "\t";
    char number[32];
    const auto res = std::to_chars(number, number + sizeof number, record.kilograms);
    line.append(number, res.ptr);
    line += "\t" + std::to_string(record.time);
    for (const std::wstring& cell : record.cells) {
        line += '\t';
        AppendEscaped(line, cell);
    }
    line += '\t';
    AppendEscaped(line, WideFromUtf8(record.scaleDigits));
    line += '\t';
    AppendEscaped(line, WideFromUtf8(record.scaleUnit));
    line += '\t';
    line += Hex32(Crc32(line));
    line += '\n';
    return line;
}

std::string FormatClearedLine(int count) { return CountLine("X", count); }

std::string FormatKeptLine(int count) { return CountLine("K", count); }

CJournalReader::CJournalReader(int maxRows) : m_maxRows(static_cast<size_t>(std::max(maxRows, 0))) {}

void CJournalReader::Feed(std::string_view bytes) {
    while (!bytes.empty() && m_contents.state != JournalState::Unreadable) {
        const size_t end = bytes.find('\n');
        const bool ended = end != std::string_view::npos;
        const std::string_view piece = bytes.substr(0, end);
        m_offset += ended ? end + 1 : bytes.size();
        bytes.remove_prefix(ended ? end + 1 : bytes.size());
        if (!m_skipping && m_pending.size() + piece.size() > MAX_LINE_BYTES) {
            m_skipping = true;  // no row is this long: the line is damaged
            m_pending.clear();
        }
        if (!ended) {
            if (!m_skipping) m_pending.append(piece);  // the rest comes with the next piece
            return;
        }
        if (m_skipping) {
            m_skipping = false;
            TakeLine("\x01");  // judged as the damaged line it is
        } else if (m_pending.empty()) {
            TakeLine(piece);  // a line within one piece is not copied
        } else {
            m_pending.append(piece);
            TakeLine(m_pending);
            m_pending.clear();
        }
    }
}

void CJournalReader::TakeLine(std::string_view line) {
    if (!m_headerSeen) {
        m_contents.version = HeaderVersion(line);
        if (m_contents.version == 0) {
            m_contents.state = JournalState::Unreadable;  // not ours, or from a newer program
            return;
        }
        m_headerSeen = true;
        m_contents.wholeBytes = m_offset;
        return;
    }
    int count = 0;
    std::string_view desk;
    uint64_t seq = 0;
    if (!line.empty() && line[0] == 'R') {
        TakeRow(line);
    } else if (m_contents.version > 1 && CheckSeq(line, desk, seq)) {
        m_deskField.assign(desk);
        NoteSeq(desk, seq);
        m_contents.wholeBytes = m_offset;
    } else if (CheckCleared(line, "X", count) && count <= m_live) {
        DropFirstLive(count);
        m_contents.wholeBytes = m_offset;
    } else if (CheckCleared(line, "K", count) && count <= m_live) {
        DropFirstLive(count);
        m_contents.wholeBytes = m_contents.keptBytes = m_offset;
        // Whatever was damaged before the mark was told when it was written.
        m_contents.damagedLines = 0;
    } else {
        ++m_contents.damagedLines;
        ++m_damagedSinceRow;
    }
}

void CJournalReader::NoteSeq(std::string_view desk, uint64_t seq) {
    // Rows another desk's journal handed over keep their own count.
    if (desk == m_deskField && seq > m_contents.lastSeq) m_contents.lastSeq = seq;
}

void CJournalReader::TakeRow(std::string_view line) {
    RowIdentity id;
    if (!CheckRow(line, m_contents.version, id)) {
        ++m_contents.damagedLines;
        ++m_damagedSinceRow;
        return;
    }
    const int number = id.number;
    ++m_contents.rowLines;
    // Without a whole S line the first row names the desk.
    if (m_deskField.empty() && !id.desk.empty() && m_contents.lastSeq == 0) m_deskField.assign(id.desk);
    NoteSeq(id.desk, id.seq);
    if (id.desk == m_deskField && id.seq > 0 && (m_contents.firstSeq == 0 || id.seq < m_contents.firstSeq))
        m_contents.firstSeq = id.seq;
    if (number != m_live) {
        // Out of step with the rows before it: a copy of an earlier line,
        // unless a damaged line stands between them. Then that line held
        // the rows missing here, or it was the mark that cleared the rows
        // counted too many.
        if (m_damagedSinceRow == 0) {
            ++m_contents.damagedLines;
            ++m_damagedSinceRow;
            return;
        }
        if (number < m_live) DropFirstLive(static_cast<int>(m_live - number));
        // Only the newest maxRows can be shown: a huge gap costs no more.
        const long long gap = number - m_live;
        const long long held = std::min<long long>(gap, static_cast<long long>(m_maxRows));
        m_live += gap - held;
        for (long long i = 0; i < held; ++i, ++m_live) Push("");
    }
    m_damagedSinceRow = 0;
    ++m_live;
    m_contents.wholeBytes = m_offset;
    Push(line);
}

void CJournalReader::Push(std::string_view line) {
    if (m_maxRows == 0) return;
    if (m_ringCount == m_maxRows) {
        // The oldest gives way; its string keeps its room for this line.
        m_ring[m_ringStart].assign(line);
        m_ringStart = (m_ringStart + 1) % m_maxRows;
        return;
    }
    if (m_ringCount == m_ring.size()) {
        // Grows at its end: the oldest row is put first again.
        std::rotate(m_ring.begin(), m_ring.begin() + static_cast<long>(m_ringStart), m_ring.end());
        m_ringStart = 0;
        m_ring.emplace_back(line);
    } else {
        m_ring[(m_ringStart + m_ringCount) % m_ring.size()].assign(line);
    }
    ++m_ringCount;
}

void CJournalReader::DropFirstLive(int count) {
    m_live -= count;
    // The ring holds the newest rows; it keeps those still in the table.
    while (m_ringCount > static_cast<size_t>(m_live)) {
        m_ring[m_ringStart].clear();
        m_ringStart = (m_ringStart + 1) % m_ring.size();
        --m_ringCount;
    }
}

JournalContents CJournalReader::Finish() {
    if (m_contents.state == JournalState::Unreadable) return std::move(m_contents);
    if (!m_headerSeen) {
        // Nothing, or a header cut off while it was written: no rows either way.
        const std::string header = JournalHeader();
        if (std::string_view(header).substr(0, m_pending.size()) != m_pending || m_skipping)
            m_contents.state = JournalState::Unreadable;
        return std::move(m_contents);
    }
    if (!m_pending.empty() || m_skipping) ++m_contents.damagedLines;  // cut off mid-line
    m_contents.damaged = m_contents.damagedLines > 0;
    m_contents.rowsInFile = static_cast<int>(m_live);
    m_contents.droppedRows = static_cast<int>(m_live - static_cast<long long>(m_ringCount));
    m_contents.rows.reserve(m_ringCount);
    for (size_t i = 0; i < m_ringCount; ++i) {
        const std::string& line = m_ring[(m_ringStart + i) % m_ring.size()];
        if (line.empty()) continue;  // its line was damaged
        m_contents.rows.push_back(DecodeRow(line, m_contents.version));
    }
    m_contents.state = m_contents.rows.empty() ? JournalState::Empty : JournalState::Rows;
    std::wstring desk;
    Unescape(m_deskField, desk);
    m_contents.desk = Utf8FromWide(desk);
    return std::move(m_contents);
}

bool CJournalRowScanner::TakeLine(std::string_view line, RowRecord& record) {
    if (!m_headerSeen) {
        m_headerSeen = true;
        m_version = HeaderVersion(line);
        if (m_version == 0) m_stopped = true;
        return false;
    }
    RowIdentity id;
    if (line.empty() || line[0] != 'R' || !CheckRow(line, m_version, id)) return false;
    record = DecodeRow(line, m_version);
    return true;
}

JournalContents ReadJournal(std::string_view bytes, int maxRows) {
    CJournalReader reader(maxRows);
    reader.Feed(bytes);
    return reader.Finish();
}

}  // namespace tarvex
