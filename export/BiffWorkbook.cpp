#include "export/BiffWorkbook.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "text/TextCodec.h"

namespace tarvex {
namespace {

// Record ids, in the order they are written.
enum : uint16_t {
    BOF = 0x0809, INTERFACEHDR = 0x00E1, MMS = 0x00C1, INTERFACEEND = 0x00E2, WRITEACCESS = 0x005C,
    CODEPAGE = 0x0042, DSF = 0x0161, RRTABID = 0x013D, WINPROTECT = 0x0019, PROTECT = 0x0012,
    PASSWORD = 0x0013, PROT4REV = 0x01AF, PROT4REVPASS = 0x01BC, WINDOW1 = 0x003D, BACKUP = 0x0040,
    HIDEOBJ = 0x008D, DATE1904 = 0x0022, PRECISION = 0x000E, REFRESHALL = 0x01B7, BOOKBOOL = 0x00DA,
    FONT = 0x0031, FORMAT = 0x041E, XF = 0x00E0, STYLE = 0x0293, USESELFS = 0x0160, BOUNDSHEET = 0x0085,
    COUNTRY = 0x008C, SST = 0x00FC, CONTINUE = 0x003C, EXTSST = 0x00FF, END_OF_FILE = 0x000A,
    INDEX = 0x020B, CALCMODE = 0x000D, CALCCOUNT = 0x000C, REFMODE = 0x000F, ITERATION = 0x0011,
    DELTA = 0x0010, SAVERECALC = 0x005F, PRINTHEADERS = 0x002A, PRINTGRIDLINES = 0x002B, GRIDSET = 0x0082,
    GUTS = 0x0080, DEFAULTROWHEIGHT = 0x0225, WSBOOL = 0x0081, HEADER = 0x0014, FOOTER = 0x0015,
    HCENTER = 0x0083, VCENTER = 0x0084, SETUP = 0x00A1, DEFCOLWIDTH = 0x0055, COLINFO = 0x007D,
    DIMENSIONS = 0x0200, ROW = 0x0208, LABELSST = 0x00FD, NUMBER = 0x0203, RK = 0x027E, DBCELL = 0x00D7,
    WINDOW2 = 0x023E,
};

// Cell formats: 0-14 style XFs, then ours.
constexpr uint16_t XF_PLAIN = 15, XF_HEADER = 16, XF_DATE_TIME = 17, XF_TIME = 18, XF_FIRST_NUMBER = 19;
constexpr uint16_t FMT_DATE_TIME = 164, FMT_TIME = 165, FMT_FIRST_NUMBER = 166;
constexpr int ROWS_PER_BLOCK = 32;
constexpr int ROW_RECORD_BYTES = 4 + 16;
constexpr uint16_t HEADER_ROW_TWIPS = 1000;  // 50 points
constexpr uint16_t ROW_TWIPS = 255;

class CRecords {
public:
    std::vector<uint8_t>& Bytes() { return m_out; }
    size_t Position() const { return m_out.size(); }

    size_t Begin(uint16_t id) {
        const size_t start = m_out.size();
        U16(id);
        U16(0);
        return start;
    }
    void End(size_t start) {
        const size_t length = m_out.size() - start - 4;
        m_out[start + 2] = static_cast<uint8_t>(length);
        m_out[start + 3] = static_cast<uint8_t>(length >> 8);
    }
    void Record(uint16_t id, std::initializer_list<uint8_t> data) {
        const size_t start = Begin(id);
        m_out.insert(m_out.end(), data.begin(), data.end());
        End(start);
    }

    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v) {
        m_out.push_back(static_cast<uint8_t>(v));
        m_out.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 8; ++i) m_out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    void Raw(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_out.insert(m_out.end(), p, p + size);
    }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) m_out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    std::vector<uint8_t> m_out;
};

// A text as UTF-16 units, and whether every unit fits one byte (then it is
// stored with one byte a character).
struct Utf16Text {
    std::vector<uint16_t> units;
    bool compressed = true;
};

Utf16Text ToUtf16(std::wstring_view text) {
    const std::string bytes = Utf16LeFromWide(text);
    Utf16Text t;
    const size_t count = std::min<size_t>(bytes.size() / 2, BIFF_MAX_TEXT);
    t.units.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                                (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
        t.units.push_back(unit);
        if (unit > 0xFF) t.compressed = false;
    }
    return t;
}

void PutChars(CRecords& r, const Utf16Text& t, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        if (t.compressed)
            r.U8(static_cast<uint8_t>(t.units[i]));
        else
            r.U16(t.units[i]);
    }
}

// XLUnicodeString: 16-bit length, option byte, characters.
void PutUnicodeString(CRecords& r, std::wstring_view text) {
    const Utf16Text t = ToUtf16(text);
    r.U16(static_cast<uint16_t>(t.units.size()));
    r.U8(t.compressed ? 0 : 1);
    PutChars(r, t, 0, t.units.size());
}

// ShortXLUnicodeString of plain ASCII: 8-bit length, option byte, bytes.
void PutShortAscii(CRecords& r, const char* text) {
    const size_t n = std::strlen(text);
    r.U8(static_cast<uint8_t>(n));
    r.U8(0);
    r.Raw(text, n);
}

// The shared strings and where each one begins, for EXTSST.
class CSharedStrings {
public:
    uint32_t Add(std::wstring_view text) {
        ++m_total;
        auto [it, added] = m_index.try_emplace(std::wstring(text), static_cast<uint32_t>(m_order.size()));
        if (added) m_order.push_back(&it->first);
        return it->second;
    }
    uint32_t Find(std::wstring_view text) const { return m_index.at(std::wstring(text)); }

    void Write(CRecords& r) const {
        size_t record = r.Begin(SST);
        r.U32(m_total);
        r.U32(static_cast<uint32_t>(m_order.size()));
        size_t used = 8;
        const size_t bucket = std::max<size_t>(m_order.size() / 128 + 1, 8);
        std::vector<std::pair<uint32_t, uint16_t>> starts;  // stream position, offset in its record
        const auto nextRecord = [&] {
            r.End(record);
            record = r.Begin(CONTINUE);
            used = 0;
        };
        for (size_t s = 0; s < m_order.size(); ++s) {
            const Utf16Text t = ToUtf16(*m_order[s]);
            const size_t charSize = t.compressed ? 1 : 2;
            // A string's header and its first character share a record.
            if (used + 3 + (t.units.empty() ? 0 : charSize) > BIFF_MAX_RECORD) nextRecord();
            if (s % bucket == 0)
                starts.emplace_back(static_cast<uint32_t>(r.Position()), static_cast<uint16_t>(r.Position() - record));
            r.U16(static_cast<uint16_t>(t.units.size()));
            r.U8(t.compressed ? 0 : 1);
            used += 3;
            size_t done = 0;
            while (done < t.units.size()) {
                size_t n = std::min((BIFF_MAX_RECORD - used) / charSize, t.units.size() - done);
                // A surrogate pair stays in one record.
                if (n > 0 && done + n < t.units.size() && (t.units[done + n - 1] & 0xFC00) == 0xD800) --n;
                if (n == 0) {
                    // The rest goes on in a CONTINUE, after an option byte of its own.
                    nextRecord();
                    r.U8(t.compressed ? 0 : 1);
                    used = 1;
                    continue;
                }
                PutChars(r, t, done, n);
                used += n * charSize;
                done += n;
            }
        }
        r.End(record);

        record = r.Begin(EXTSST);
        r.U16(static_cast<uint16_t>(bucket));
        for (const auto& [position, offset] : starts) {
            r.U32(position);
            r.U16(offset);
            r.U16(0);
        }
        r.End(record);
    }

private:
    uint32_t m_total = 0;
    std::unordered_map<std::wstring, uint32_t> m_index;
    std::vector<const std::wstring*> m_order;
};

void PutXf(CRecords& r, uint16_t font, uint16_t format, uint16_t kind, uint8_t align, uint8_t used) {
    const size_t start = r.Begin(XF);
    r.U16(font);
    r.U16(format);
    r.U16(kind);
    r.U8(align);
    r.U8(0);  // rotation
    r.U8(0);  // indent
    r.U8(used);
    r.U32(0);  // no borders
    r.U32(0);  // no fill
    r.U16(0x20C0);
    r.End(start);
}

void PutFont(CRecords& r, bool bold) {
    const size_t start = r.Begin(FONT);
    r.U16(200);              // 10 points
    r.U16(bold ? 1 : 0);     // readers take bold from this bit
    r.U16(0x7FFF);           // the window's text colour
    r.U16(bold ? 700 : 400);
    r.U16(0);
    r.U8(0);
    r.U8(0);
    r.U8(0);
    r.U8(0);
    PutShortAscii(r, "Arial");
    r.End(start);
}

void PutFormat(CRecords& r, uint16_t index, const std::string& pattern) {
    const size_t start = r.Begin(FORMAT);
    r.U16(index);
    PutUnicodeString(r, WideFromUtf8(pattern));
    r.End(start);
}

// BIFF8 beginning of a substream: 0x0005 the workbook globals, 0x0010 a sheet.
void PutBof(CRecords& r, uint16_t substream) {
    const size_t at = r.Begin(BOF);
    r.U16(0x0600);
    r.U16(substream);
    r.U16(0x0DBB);
    r.U16(0x07CC);
    r.U32(0);
    r.U8(6);
    r.U8(0);
    r.U16(0);
    r.End(at);
}

size_t WriteGlobals(CRecords& r, const std::vector<std::string>& numberFormats, const CSharedStrings& strings) {
    PutBof(r, 0x0005);
    r.Record(INTERFACEHDR, {0xB0, 0x04});
    r.Record(MMS, {0, 0});
    r.Record(INTERFACEEND, {});
    size_t at = r.Begin(WRITEACCESS);
    PutUnicodeString(r, L"Tarvex Scale");
    while (r.Position() - at - 4 < 112) r.U8(' ');
    r.End(at);
    r.Record(CODEPAGE, {0xB0, 0x04});  // UTF-16
    r.Record(DSF, {0, 0});
    r.Record(RRTABID, {1, 0});
    for (uint16_t id : {WINPROTECT, PROTECT, PASSWORD, PROT4REV, PROT4REVPASS}) r.Record(id, {0, 0});
    r.Record(WINDOW1, {0x68, 0x01, 0x1E, 0x00, 0x5C, 0x3A, 0x28, 0x23, 0x38, 0, 0, 0, 0, 0, 1, 0, 0x58, 0x02});
    r.Record(BACKUP, {0, 0});
    r.Record(HIDEOBJ, {0, 0});
    r.Record(DATE1904, {0, 0});  // dates count from 1900
    r.Record(PRECISION, {1, 0});
    r.Record(REFRESHALL, {0, 0});
    r.Record(BOOKBOOL, {0, 0});
    // Font 4 never exists: the fourth record is font 5.
    PutFont(r, false);
    PutFont(r, true);
    PutFont(r, false);
    PutFont(r, false);
    static const std::pair<uint16_t, const char*> BUILT_IN[] = {
        {5, "\"$\"#,##0_);(\"$\"#,##0)"},
        {6, "\"$\"#,##0_);[Red](\"$\"#,##0)"},
        {7, "\"$\"#,##0.00_);(\"$\"#,##0.00)"},
        {8, "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)"},
        {41, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)"},
        {42, "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)"},
        {43, "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)"},
        {44, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)"},
    };
    for (const auto& [index, pattern] : BUILT_IN) PutFormat(r, index, pattern);
    PutFormat(r, FMT_DATE_TIME, "hh:mm:ss mm/dd/yyyy");
    PutFormat(r, FMT_TIME, "hh:mm:ss");
    for (size_t i = 0; i < numberFormats.size(); ++i)
        PutFormat(r, static_cast<uint16_t>(FMT_FIRST_NUMBER + i), numberFormats[i]);
    PutXf(r, 0, 0, 0xFFF5, 0x20, 0x00);
    for (int i = 1; i <= 14; ++i) PutXf(r, 0, 0, 0xFFF5, 0x20, 0xF4);
    PutXf(r, 0, 0, 0x0001, 0x20, 0x00);                 // 15: plain cells
    PutXf(r, 1, 0, 0x0001, 0x10, 0xFC);                 // 16: captions, bold, centred vertically
    PutXf(r, 0, FMT_DATE_TIME, 0x0001, 0x20, 0xFC);     // 17
    PutXf(r, 0, FMT_TIME, 0x0001, 0x20, 0xFC);          // 18
    for (size_t i = 0; i < numberFormats.size(); ++i)
        PutXf(r, 0, static_cast<uint16_t>(FMT_FIRST_NUMBER + i), 0x0001, 0x20, 0xFC);
    r.Record(STYLE, {0x00, 0x80, 0x00, 0xFF});
    r.Record(USESELFS, {0, 0});
    at = r.Begin(BOUNDSHEET);
    const size_t sheetPosition = r.Position();
    r.U32(0);  // the sheet's BOF, patched once known
    r.U8(0);
    r.U8(0);
    PutShortAscii(r, "Sheet1");
    r.End(at);
    r.Record(COUNTRY, {1, 0, 1, 0});
    strings.Write(r);
    r.Record(END_OF_FILE, {});
    return sheetPosition;
}

// What one cell becomes, decided once for both passes.
struct PlacedCell {
    uint16_t id = 0;  // 0: no record
    uint16_t xf = XF_PLAIN;
};

}  // namespace

double SpreadsheetSerial(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 (Howard Hinnant's civil-date arithmetic).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = static_cast<long>(era) * 146097 + doe - 719468;
    // 1899-12-30 is day -25569. Before 1900-03-01 the spreadsheet is one day
    // behind, having counted a 29 February 1900.
    long serial = days + 25569;
    if (serial < 61) serial -= 1;
    return static_cast<double>(serial) + TimeOfDaySerial(hour, minute, second);
}

double TimeOfDaySerial(int hour, int minute, int second) {
    return static_cast<double>(hour * 3600 + minute * 60 + second) / 86400.0;
}

namespace {

double DecodeRk(uint32_t rk) {
    double value;
    if (rk & 2) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(rk & ~3u) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100 : value;
}

}  // namespace

bool EncodeRk(double value, uint32_t& rk) {
    const auto exact = [&](uint32_t candidate) {
        if (DecodeRk(candidate) != value) return false;
        rk = candidate;
        return true;
    };
    for (const uint32_t hundredths : {0u, 1u}) {
        const double x = hundredths ? value * 100 : value;
        if (std::floor(x) == x && x >= -536870912.0 && x < 536870912.0) {
            if (exact((static_cast<uint32_t>(static_cast<int32_t>(x)) << 2) | 2u | hundredths)) return true;
        }
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        if ((bits & 0x3FFFFFFFFull) == 0 && exact((static_cast<uint32_t>(bits >> 32) & ~3u) | hundredths))
            return true;
    }
    return false;
}

std::vector<uint8_t> BuildBiffWorkbook(const BiffSheet& sheet) {
    const int columns = static_cast<int>(sheet.columns.size());
    const int rows = std::min(sheet.rows, BIFF_MAX_ROWS - 1);
    const int sheetRows = rows + 1;

    // First pass: the shared strings and the number formats in use.
    CSharedStrings strings;
    std::map<std::string, uint16_t> formatIndex;
    std::vector<std::string> numberFormats;
    for (const BiffColumn& c : sheet.columns)
        if (!c.caption.empty()) strings.Add(c.caption);
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < columns; ++col) {
            const BiffCell cell = sheet.cell(row, col);
            if (cell.kind == BiffCell::Kind::Text && !cell.text.empty()) strings.Add(cell.text);
            if (cell.kind == BiffCell::Kind::Number && !cell.numberFormat.empty() &&
                formatIndex.try_emplace(cell.numberFormat, static_cast<uint16_t>(numberFormats.size())).second)
                numberFormats.push_back(cell.numberFormat);
        }
    }

    CRecords r;
    const size_t sheetPositionField = WriteGlobals(r, numberFormats, strings);
    r.Patch32(sheetPositionField, static_cast<uint32_t>(r.Position()));

    PutBof(r, 0x0010);
    const int blocks = (sheetRows + ROWS_PER_BLOCK - 1) / ROWS_PER_BLOCK;
    size_t at = r.Begin(INDEX);
    r.U32(0);
    r.U32(0);
    r.U32(static_cast<uint32_t>(sheetRows));
    const size_t defColWidthField = r.Position();
    r.U32(0);
    const size_t dbCellFields = r.Position();
    for (int b = 0; b < blocks; ++b) r.U32(0);
    r.End(at);
    r.Record(CALCMODE, {1, 0});
    r.Record(CALCCOUNT, {0x64, 0});
    r.Record(REFMODE, {1, 0});
    r.Record(ITERATION, {0, 0});
    at = r.Begin(DELTA);
    r.F64(0.001);
    r.End(at);
    r.Record(SAVERECALC, {1, 0});
    r.Record(PRINTHEADERS, {0, 0});
    r.Record(PRINTGRIDLINES, {0, 0});
    r.Record(GRIDSET, {1, 0});
    r.Record(GUTS, {0, 0, 0, 0, 0, 0, 0, 0});
    r.Record(DEFAULTROWHEIGHT, {0, 0, 0xFF, 0});
    r.Record(WSBOOL, {0xC1, 0x04});
    r.Record(HEADER, {});
    r.Record(FOOTER, {});
    r.Record(HCENTER, {0, 0});
    r.Record(VCENTER, {0, 0});
    at = r.Begin(SETUP);
    r.Raw("\x00\x00\x64\x00\x01\x00\x01\x00\x01\x00\x04\x00\x58\x02\x58\x02", 16);
    r.F64(0.5);
    r.F64(0.5);
    r.U16(1);
    r.End(at);
    r.Patch32(defColWidthField, static_cast<uint32_t>(r.Position()));
    r.Record(DEFCOLWIDTH, {8, 0});
    for (int col = 0; col < columns; ++col) {
        // Character widths as the window's pixels / 6, in 1/256 of a character
        // with the font's padding, as Excel stores them.
        const int width = sheet.columns[static_cast<size_t>(col)].pixelWidth / 6;
        const auto units = static_cast<uint16_t>(std::clamp((width * 7 + 5) / 7.0 * 256, 0.0, 65535.0));
        at = r.Begin(COLINFO);
        r.U16(static_cast<uint16_t>(col));
        r.U16(static_cast<uint16_t>(col));
        r.U16(units);
        r.U16(XF_PLAIN);
        r.U16(2);
        r.U16(0);
        r.End(at);
    }
    at = r.Begin(DIMENSIONS);
    r.U32(0);
    r.U32(static_cast<uint32_t>(sheetRows));
    r.U16(0);
    r.U16(static_cast<uint16_t>(columns));
    r.U16(0);
    r.End(at);

    // Row 0 holds the captions; sheet row n > 0 holds table row n - 1.
    const auto cellAt = [&](int sheetRow, int col) -> BiffCell {
        if (sheetRow == 0) {
            BiffCell caption;
            caption.kind = BiffCell::Kind::Text;
            caption.text = sheet.columns[static_cast<size_t>(col)].caption;
            return caption;
        }
        return sheet.cell(sheetRow - 1, col);
    };
    const auto placeOf = [&](const BiffCell& cell, int sheetRow) -> PlacedCell {
        switch (cell.kind) {
            case BiffCell::Kind::Text:
                if (cell.text.empty()) return {};
                return {LABELSST, sheetRow == 0 ? XF_HEADER : XF_PLAIN};
            case BiffCell::Kind::Number:
                return {NUMBER, cell.numberFormat.empty()
                                    ? XF_PLAIN
                                    : static_cast<uint16_t>(XF_FIRST_NUMBER + formatIndex.at(cell.numberFormat))};
            case BiffCell::Kind::DateTime:
                return {NUMBER, XF_DATE_TIME};
            case BiffCell::Kind::TimeOfDay:
                return {NUMBER, XF_TIME};
            case BiffCell::Kind::Empty:
                break;
        }
        return {};
    };

    std::vector<size_t> firstCell(ROWS_PER_BLOCK);
    for (int b = 0; b < blocks; ++b) {
        const int first = b * ROWS_PER_BLOCK;
        const int last = std::min(first + ROWS_PER_BLOCK, sheetRows);
        const size_t firstRowRecord = r.Position();
        for (int row = first; row < last; ++row) {
            int colMic = -1, colMac = 0;
            for (int col = 0; col < columns; ++col) {
                if (placeOf(cellAt(row, col), row).id == 0) continue;
                if (colMic < 0) colMic = col;
                colMac = col + 1;
            }
            at = r.Begin(ROW);
            r.U16(static_cast<uint16_t>(row));
            r.U16(static_cast<uint16_t>(std::max(colMic, 0)));
            r.U16(static_cast<uint16_t>(colMac));
            r.U16(row == 0 ? HEADER_ROW_TWIPS : ROW_TWIPS);
            r.U16(0);
            r.U16(0);
            // Reserved bits 8-15 set, XF 15; the header's own height marked unsynced.
            r.U32(row == 0 ? 0x000F0140u : 0x000F0100u);
            r.End(at);
        }
        for (int row = first; row < last; ++row) {
            firstCell[static_cast<size_t>(row - first)] = r.Position();
            for (int col = 0; col < columns; ++col) {
                const BiffCell cell = cellAt(row, col);
                const PlacedCell place = placeOf(cell, row);
                if (place.id == 0) continue;
                uint32_t rk = 0;
                const bool asRk = place.id == NUMBER && EncodeRk(cell.value, rk);
                at = r.Begin(asRk ? static_cast<uint16_t>(RK) : place.id);
                r.U16(static_cast<uint16_t>(row));
                r.U16(static_cast<uint16_t>(col));
                r.U16(place.xf);
                if (place.id == LABELSST)
                    r.U32(strings.Find(cell.text));
                else if (asRk)
                    r.U32(rk);
                else
                    r.F64(cell.value);
                r.End(at);
            }
        }
        r.Patch32(dbCellFields + 4 * static_cast<size_t>(b), static_cast<uint32_t>(r.Position()));
        at = r.Begin(DBCELL);
        r.U32(static_cast<uint32_t>(r.Position() - 4 - firstRowRecord));
        for (int row = first; row < last; ++row) {
            const size_t i = static_cast<size_t>(row - first);
            const size_t from = i == 0 ? firstRowRecord + ROW_RECORD_BYTES : firstCell[i - 1];
            r.U16(static_cast<uint16_t>(firstCell[i] - from));
        }
        r.End(at);
    }
    r.Record(WINDOW2, {0xB6, 0x06, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    r.Record(END_OF_FILE, {});
    return std::move(r.Bytes());
}

}  // namespace tarvex
