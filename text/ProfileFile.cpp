#include "text/ProfileFile.h"

#include <cstdio>
#include <cwctype>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "files/FileCalls.h"
#include "files/WholeFile.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

enum class FileEncoding { Narrow, Utf8Bom, Utf16Le };

struct ProfileLines {
    FileEncoding encoding = FileEncoding::Narrow;
    std::vector<std::wstring> lines;
    // What ended each line as read ("\r\n", "\n" or nothing for the last),
    // so a write gives every other line back byte for byte.
    std::vector<std::wstring> ends;
    std::wstring eol = L"\r\n";  // new files get the line ends Windows tools expect

    void Insert(size_t at, std::wstring line) {
        // A line added after a last line without an end gives that line one.
        // A carriage return it ends with stays its own: "\n" alone would
        // make the two read as one line end.
        if (at == lines.size() && !ends.empty() && ends.back().empty())
            ends.back() = !lines.back().empty() && lines.back().back() == L'\r' ? L"\r\n" : eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
        ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(at), eol);
    }
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

wchar_t FoldCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
    if (c < 0x80) return c;
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

// The name of a "[section]" line, or nothing for any other line.
std::optional<std::wstring_view> SectionName(std::wstring_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != L'[') return std::nullopt;
    line.remove_prefix(1);
    const size_t close = line.find(L']');
    if (close != std::wstring_view::npos) line = line.substr(0, close);
    return Trim(line);
}

struct KeyLine {
    std::wstring_view key;
    std::wstring_view value;
    size_t valueStart;  // where the value begins in the untrimmed line
};

std::optional<KeyLine> ParseKeyLine(std::wstring_view line) {
    const std::wstring_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == L';' || trimmed.front() == L'[') return std::nullopt;
    const size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) return std::nullopt;
    size_t valueStart = eq + 1;
    while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
    std::wstring_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
    return KeyLine{Trim(line.substr(0, eq)), value, valueStart};
}

std::optional<std::string> ReadFileBytes(const std::wstring& file) {
    const std::filesystem::path path = PathFromWide(file);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::FILE* in = OpenStream(path, "rb");
    if (in == nullptr) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, got);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return std::nullopt;
    return bytes;
}

ProfileLines SplitProfile(std::string_view bytes) {
    ProfileLines p;
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE) {
        p.encoding = FileEncoding::Utf16Le;
        text = WideFromUtf16Le(bytes.substr(2));
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        p.encoding = FileEncoding::Utf8Bom;
        text = WideFromUtf8(bytes.substr(3));
    } else {
        text = WideFromUtf8(bytes);
    }
    const size_t firstLf = text.find(L'\n');
    p.eol = (firstLf == std::wstring::npos || (firstLf > 0 && text[firstLf - 1] == L'\r'))
                ? L"\r\n" : L"\n";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        std::wstring lineEnd = end < text.size() ? L"\n" : L"";
        if (!lineEnd.empty() && !line.empty() && line.back() == L'\r') {
            line.pop_back();
            lineEnd = L"\r\n";
        }
        p.lines.push_back(std::move(line));
        p.ends.push_back(std::move(lineEnd));
        start = end + 1;
    }
    return p;
}

std::string JoinProfile(const ProfileLines& p) {
    std::wstring text;
    for (size_t i = 0; i < p.lines.size(); ++i) text += p.lines[i] + p.ends[i];
    switch (p.encoding) {
        case FileEncoding::Utf16Le: return "\xFF\xFE" + Utf16LeFromWide(text);
        case FileEncoding::Utf8Bom: return "\xEF\xBB\xBF" + Utf8FromWide(text);
        case FileEncoding::Narrow: break;
    }
    return Utf8FromWide(text);
}

// Writes the whole file beside itself and then moves it into place, so a
// failed write never leaves a half file behind.
bool ReplaceFile(const std::wstring& file, const std::string& bytes, bool existed) {
    namespace fs = std::filesystem;
    const fs::path target = PathFromWide(file);
    if (existed) {
        // Refuse what the user has made unwritable, as the platform would.
        std::FILE* probe = OpenStream(target, "r+b");
        if (probe == nullptr) return false;
        std::fclose(probe);
    }
    // A settings file may hold a token or a password: the new one is for
    // this user alone from its first byte, then given the old one's mode
    // (on Windows its access list).
    CWholeFile out(target, {.privateFile = true, .keepAccess = true});
    if (!out.Begin()) return false;
    if (existed) {
        std::error_code ec;
        const fs::perms perms = fs::status(target, ec).permissions();
        if (!ec) fs::permissions(out.Beside(), perms, ec);
    }
    return out.Write(bytes) && out.Commit();
}

// A file's keys by folded "section\0key", as a read sees them: only the
// first section of a name counts, and the first key of a name in it.
using ProfileIndex = std::unordered_map<std::wstring, std::wstring>;

std::wstring IndexKey(std::wstring_view section, std::wstring_view key) {
    std::wstring folded;
    folded.reserve(section.size() + key.size() + 1);
    for (wchar_t c : section) folded.push_back(FoldCase(c));
    folded.push_back(L'\0');
    for (wchar_t c : key) folded.push_back(FoldCase(c));
    return folded;
}

ProfileIndex BuildIndex(const ProfileLines& p) {
    ProfileIndex index;
    std::unordered_set<std::wstring> seenSections;
    std::optional<std::wstring> section;  // empty while outside a counted section
    for (const std::wstring& line : p.lines) {
        if (const auto name = SectionName(line)) {
            const std::wstring folded = IndexKey(*name, {});
            section = seenSections.insert(folded).second ? std::optional<std::wstring>(std::wstring(*name))
                                                         : std::nullopt;
            continue;
        }
        if (!section) continue;
        if (const auto kv = ParseKeyLine(line))
            index.emplace(IndexKey(*section, kv->key), std::wstring(kv->value));
    }
    return index;
}

// Files are read and split once and kept until their size or time changes:
// every text the user sees is looked up just before it is shown.
class ProfileCache {
public:
    std::shared_ptr<const ProfileIndex> Get(const std::wstring& file) {
        namespace fs = std::filesystem;
        if (file.empty()) return nullptr;  // no file named: nothing to ask the system
        const fs::path path = PathFromWide(file);
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return nullptr;
        const uintmax_t size = fs::file_size(path, ec);
        if (ec) return nullptr;
        const fs::file_time_type time = fs::last_write_time(path, ec);
        if (ec) return nullptr;
        // A file this large is no settings or language file: it has no keys.
        if (size > PROFILE_MAX_FILE_SIZE) return std::make_shared<const ProfileIndex>();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const auto found = m_entries.find(file);
            if (found != m_entries.end() && found->second.size == size && found->second.time == time)
                return found->second.index;
        }
        const std::optional<std::string> bytes = ReadFileBytes(file);
        if (!bytes) return nullptr;
        auto index = std::make_shared<const ProfileIndex>(BuildIndex(SplitProfile(*bytes)));
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries[file] = Entry{size, time, index};
        return index;
    }
    void Forget(const std::wstring& file) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.erase(file);
    }

private:
    struct Entry {
        uintmax_t size;
        std::filesystem::file_time_type time;
        std::shared_ptr<const ProfileIndex> index;
    };
    std::mutex m_lock;
    std::unordered_map<std::wstring, Entry> m_entries;
};

ProfileCache& Cache() {
    static ProfileCache cache;
    return cache;
}

std::optional<std::wstring> FindProfileValue(const std::wstring& file, std::wstring_view section,
                                             std::wstring_view key) {
    const std::shared_ptr<const ProfileIndex> index = Cache().Get(file);
    if (!index) return std::nullopt;
    const auto found = index->find(IndexKey(section, key));
    if (found == index->end()) return std::nullopt;
    return found->second;
}

}  // namespace

std::optional<std::wstring> FindProfileText(const std::wstring& file, std::wstring_view section,
                                            std::wstring_view key) {
    std::optional<std::wstring> value = FindProfileValue(file, section, key);
    if (value && value->size() > PROFILE_MAX_TEXT) value->resize(PROFILE_MAX_TEXT);
    return value;
}

std::wstring ReadProfileText(const std::wstring& file, std::wstring_view section,
                             std::wstring_view key) {
    return FindProfileText(file, section, key).value_or(std::wstring());
}

struct CProfileText::Index {
    ProfileIndex keys;
};

CProfileText::CProfileText(std::string_view bytes)
    : m_index(std::make_unique<const Index>(Index{BuildIndex(SplitProfile(bytes))})) {}

CProfileText::~CProfileText() = default;

std::optional<std::wstring> CProfileText::Find(std::wstring_view section, std::wstring_view key) const {
    const auto found = m_index->keys.find(IndexKey(section, key));
    if (found == m_index->keys.end()) return std::nullopt;
    std::wstring value = found->second;
    if (value.size() > PROFILE_MAX_TEXT) value.resize(PROFILE_MAX_TEXT);
    return value;
}

bool ProfileTextTooLong(const std::wstring& file, std::wstring_view section, std::wstring_view key) {
    const std::optional<std::wstring> value = FindProfileValue(file, section, key);
    return value && value->size() > PROFILE_MAX_TEXT;
}

bool ProfileHasKey(const std::wstring& file, std::wstring_view section, std::wstring_view key) {
    return FindProfileValue(file, section, key).has_value();
}

std::string WithProfileText(std::string_view bytes, std::wstring_view section, std::wstring_view key,
                            std::wstring_view value) {
    ProfileLines p = SplitProfile(bytes);
    // A read takes one pair of quotes off a value they enclose (as the
    // platform's own reader does): such a value is written in one more pair.
    const bool quoted = value.size() >= 2 && value.front() == L'"' && value.back() == L'"';
    const std::wstring written = quoted ? L"\"" + std::wstring(value) + L"\"" : std::wstring(value);
    const std::wstring newLine = std::wstring(key) + L"=" + written;

    std::optional<size_t> sectionAt;
    size_t insertAt = 0;
    for (size_t i = 0; i < p.lines.size(); ++i) {
        if (const auto name = SectionName(p.lines[i])) {
            if (sectionAt) break;
            if (SameName(*name, section)) {
                sectionAt = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (!sectionAt) continue;
        if (const auto kv = ParseKeyLine(p.lines[i]); kv && SameName(kv->key, key)) {
            p.lines[i] = p.lines[i].substr(0, kv->valueStart) + written;
            return JoinProfile(p);
        }
        if (!Trim(p.lines[i]).empty()) insertAt = i + 1;
    }
    if (sectionAt) {
        p.Insert(insertAt, newLine);
    } else {
        p.Insert(p.lines.size(), L"[" + std::wstring(section) + L"]");
        p.Insert(p.lines.size(), newLine);
    }
    return JoinProfile(p);
}

bool WriteProfileText(const std::wstring& file, std::wstring_view section,
                      std::wstring_view key, std::wstring_view value) {
    Cache().Forget(file);
    const std::optional<std::string> bytes = ReadFileBytes(file);
    return ReplaceFile(file, WithProfileText(bytes.value_or(std::string()), section, key, value), bytes.has_value());
}

}  // namespace tarvex
