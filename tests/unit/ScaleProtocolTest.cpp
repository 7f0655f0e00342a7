// The scales' protocols against the answers their makers publish, every
// answer also cut at every byte, with garbage between answers.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "serial/HidDescriptor.h"
#include "tests/support/HidDescriptors.h"
#include "weighing/protocols/AsciiLine.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex::test {
namespace {

using namespace std::string_literals;
using Make = std::function<std::unique_ptr<IScaleProtocol>()>;

// One answer in a line of text, so the tables below read as the scale's words.
std::string Described(const ScaleAnswer& answer) {
    using Kind = ScaleAnswer::Kind;
    std::string text;
    switch (answer.kind) {
        case Kind::Weight: text = "weight " + answer.digits + " " + answer.unit; break;
        case Kind::Status: text = "status"; break;
        case Kind::Done: text = "done " + answer.command + (answer.digits.empty() ? "" : " " + answer.digits + " " + answer.unit); break;
        case Kind::NotDone: text = "not done " + answer.command + " " + answer.text; break;
        case Kind::Identity: text = "identity " + answer.text; break;
        case Kind::Unknown: text = "unknown"; break;
        case Kind::Unreadable: return "unreadable";
    }
    const ScaleStatus& s = answer.status;
    for (const auto& [set, name] : {std::pair{s.motion, " motion"}, {s.atZero, " zero"}, {s.over, " over"},
                                    {s.under, " under"}, {s.fault, " fault"}})
        if (set) text += name;
    return text;
}

std::vector<std::string> Heard(IScaleProtocol& protocol, const std::vector<std::string>& pieces) {
    std::vector<ScaleAnswer> answers;
    for (const std::string& piece : pieces) protocol.Feed(piece, answers);
    protocol.Flush(answers);
    std::vector<std::string> described;
    for (const ScaleAnswer& answer : answers) described.push_back(Described(answer));
    return described;
}

struct Case {
    std::string bytes;
    std::vector<std::string> answers;
};

// Whole, and cut in two at every byte: the same answers either way.
void ExpectAnswers(const Make& make, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(Heard(*make(), {c.bytes}), c.answers) << c.bytes;
        for (size_t cut = 1; cut < c.bytes.size(); ++cut)
            ASSERT_EQ(Heard(*make(), {c.bytes.substr(0, cut), c.bytes.substr(cut)}), c.answers)
                << c.bytes << " cut at " << cut;
    }
}

TEST(ScaleProtocol, MtSicsAnswers) {
    ExpectAnswers(MakeMtSicsProtocol, {
        {"S S     100.00 g\r\n", {"weight 100.00 g"}},
        {"S D      99.98 g\r\n", {"weight 99.98 g motion"}},
        {"S S    -12.345 kg\r\n", {"weight -12.345 kg"}},
        {"S S -     0.5 lb\r\n", {"weight -0.5 lb"}},
        {"S +\r\nS -\r\n", {"status over", "status under"}},
        {"S I\r\n", {"not done S I"}},
        {"Z A\r\nZ I\r\nZ +\r\n", {"done Z", "not done Z I", "not done Z +"}},
        {"T S      12.00 g\r\nT I\r\n", {"done T 12.00 g", "not done T I"}},
        {"I2 A \"XS204 Excellence 220.0090 g\"\r\nI4 A \"B123456789\"\r\n",
         {"identity XS204 Excellence 220.0090 g", "identity B123456789"}},
        {"ES\r\nET\r\nEL\r\n", {"unknown", "not done  ET", "not done  EL"}},
        // Garbage between answers, and answers that are no answers.
        {"\xff\x00noise\r\nS S     1.00 g\r\n"s, {"unreadable", "weight 1.00 g"}},
        {"S S 1.0.0 g\r\nS S 100.00\r\nSX\r\nS S 1.00 g", {"unreadable", "unreadable", "unreadable", "unreadable"}},
        {"I2 A unquoted\r\nZ A extra\r\n", {"unreadable", "unreadable"}},
    });
}

TEST(ScaleProtocol, ToledoAnswers) {
    const Make make = [] { return MakeToledoProtocol("lb"); };
    ExpectAnswers(make, {
        {"\x02" "002.50\r", {"weight 002.50 lb"}},
        {"\x02" "001234\r", {"weight 001234 lb"}},
        // Status records: motion, over, under zero, centre of zero, and one
        // whose parity bit is set.
        {"\x02?a\r\x02?b\r\x02?d\r\x02?p\r\x02?\xe1\r",
         {"status motion", "status over", "status under", "status zero", "status motion"}},
        {"\x02?h\r", {"status fault"}},
        {"\x02?\r", {"unknown"}},
        // A record begun again before its end; bytes outside any record.
        {"\x02" "00\x02" "001.00\r", {"unreadable", "weight 001.00 lb"}},
        {"junk\x02" "001.00\r", {"unreadable", "weight 001.00 lb"}},
        {"\x02?A\r\x02" "1.2.3\r\x02?ab\r\x02" "001.0", {"unreadable", "unreadable", "unreadable", "unreadable"}},
    });
    std::vector<ScaleAnswer> answers;
    MakeToledoProtocol("kg")->Feed("\x02" "1.500\r", answers);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].unit, "kg");
}

TEST(ScaleProtocol, NciAnswers) {
    ExpectAnswers(MakeNciProtocol, {
        {"\n  1.25lb\r\n00\r\x03", {"weight 1.25 lb"}},
        {"\n-0.50kg\r\n10\r\x03", {"weight -0.50 kg motion"}},
        {"\n 1234g \r\n00\r\x03", {"weight 1234 g"}},
        {"\n  0.00LB\r\n20\r\x03", {"weight 0.00 lb zero"}},
        // Status alone: under, over, errors; three bytes; an "S" before them.
        {"\n01\r\x03\n02\r\x03\n44\r\x03", {"status under", "status over", "status fault"}},
        {"\n0p0\r\x03\n0p8\r\x03\nS00\r\x03", {"status", "status fault", "status"}},
        {"\n?\r\x03", {"unknown"}},
        {"noise\x03\n  1.25lb\r\n00\r\x03", {"unreadable", "weight 1.25 lb"}},
        {"\n  1.25lb\r\n0\r\x03\n1.25xyz\r\n00\r\x03\n00\r\n00\r\n00\r\x03\n  1.25lb",
         {"unreadable", "unreadable", "unreadable", "unreadable"}},
    });
}

Make HidScale(const std::vector<uint8_t>& descriptor) {
    return [descriptor] { return MakeHidScaleProtocol(*ReadHidDescriptor(descriptor).layout); };
}

TEST(ScaleProtocol, UsbScaleReports) {
    // Reports real postal scales sent, then every unit and state.
    ExpectAnswers(HidScale(POSTAL_SCALE_DESCRIPTOR), {
        {"\x03\x04\x0C\xFE\x11\x03"s, {"weight 7.85 lb"}},
        {"\x03\x04\x0B\xFF\x6F\x04"s, {"weight 113.5 oz"}},
        {"\x03\x04\x02\x00\x90\x00"s, {"weight 144 g"}},
        {"\x03\x02\x0B\xFF\x00\x00"s, {"weight 0.0 oz zero"}},
        {"\x03\x03\x0C\xFE\x11\x03\x03\x04\x0C\xFE\x11\x03"s, {"weight 7.85 lb motion", "weight 7.85 lb"}},
        {"\x03\x05\x02\x00\x0A\x00\x03\x06\x03\x01\xE8\x03"s, {"weight -10 g under", "weight 10000 kg over"}},
        {"\x03\x01\x00\x00\x00\x00\x03\x07\x02\x00\x01\x00\x03\x08\x02\x00\x01\x00"s,
         {"status fault", "weight 1 g fault", "weight 1 g fault"}},
        {"\x03\x04\x01\xFD\x05\x00\x03\x04\x04\x00\x05\x00\x03\x04\x05\x00\x05\x00"s,
         {"weight 0.005 mg", "weight 5 ct", "weight 5 tael"}},
        {"\x03\x04\x06\x00\x05\x00\x03\x04\x07\x00\x05\x00\x03\x04\x08\x00\x05\x00"s,
         {"weight 5 gr", "weight 5 dwt", "weight 5 t"}},
        {"\x03\x04\x09\x02\x05\x00\x03\x04\x0A\x00\x05\x00"s, {"weight 500 ton", "weight 5 ozt"}},
        // No state the page names, no unit, a report cut short by the line falling quiet.
        {"\x03\x00\x0C\xFE\x11\x03\x03\x04\x00\x00\x05\x00\x03\x04\x0C"s, {"unreadable", "status", "unreadable"}},
        // Bytes that begin no report of the device, then a report: found however the reads fell.
        {"\xFC\xFB\xF4\x03\x04\x0C\xFE\x11\x03"s, {"unreadable", "weight 7.85 lb"}},
        {"\x09\x04\x0C\xFE\x11\x00"s, {"unreadable"}},
    });
    ExpectAnswers(HidScale(BENCH_SCALE_DESCRIPTOR), {
        {"\x01\x1E\xFB\xFF\xFF\xFD\x34"s, {"weight -1.250 kg"}},
        {"\x01\x10\x27\x00\x00\x02\xC3"s, {"weight 1000000 lb motion"}},
    });
    // A postal scale whose descriptor names no fields: the common layout, any report id.
    ExpectAnswers(HidScale(VENDOR_FIELDS_SCALE_DESCRIPTOR), {{"\x07\x04\x0C\xFE\x11\x03"s, {"weight 7.85 lb"}}});
}

TEST(ScaleProtocol, UsbScaleZeroReport) {
    // Only the Zero Scale bit set, in the report the descriptor names.
    EXPECT_EQ(HidScale(POSTAL_SCALE_DESCRIPTOR)()->Command(ScaleCommand::Zero), "\x05\x01"s);
    EXPECT_EQ(HidScale(BENCH_SCALE_DESCRIPTOR)()->Command(ScaleCommand::Zero), "\x02\x01"s);
    EXPECT_EQ(HidScale(VENDOR_FIELDS_SCALE_DESCRIPTOR)()->Command(ScaleCommand::Zero), "");
    for (const ScaleCommand command : {ScaleCommand::Poll, ScaleCommand::Tare, ScaleCommand::Confirm})
        EXPECT_EQ(HidScale(POSTAL_SCALE_DESCRIPTOR)()->Command(command), "");
}

TEST(ScaleProtocol, AsciiLinesByTheDefaultPattern) {
    ExpectAnswers([] { return MakeAsciiLineProtocol({}); }, {
        {"ST,GS,+  1.500kg\r\n", {"weight 1.500 kg"}},
        {"US,NT,-0.250 kg\r\n", {"weight -0.250 kg motion"}},
        {"OL,GS,+  --.---kg\r\n", {"status over"}},
        {"    0.665 g\r\n      12.5\n", {"weight 0.665 g", "weight 12.5 kg"}},
        {"\r\n\r\nST,GS,+  2.000lb\r", {"weight 2.000 lb"}},
        {"hello\r\nST,XX,+1.0kg\r\n1.2.3 kg\r\n 7 kg", {"unreadable", "unreadable", "unreadable", "unreadable"}},
    });
}

TEST(ScaleProtocol, AsciiLinesByTheDesksOwnPattern) {
    // A balance that marks an unsettled weight with "?" after its unit.
    AsciiLineSettings settings;
    settings.pattern = R"(^\s*(?<weight>[-+]?[\d.]+)\s*(?<unit>\w+)\s*(?<motion>\?)?\s*$)";
    ExpectAnswers([&] { return MakeAsciiLineProtocol(settings); }, {
        {"     1.234 kg ?\r\n     1.236 kg\r\n", {"weight 1.234 kg motion", "weight 1.236 kg"}},
    });
    // A pattern that would backtrack for ever is stopped, the line unreadable.
    settings.pattern = R"(^(?<weight>(a+)+)$)";
    const auto protocol = MakeAsciiLineProtocol(settings);
    ASSERT_TRUE(protocol);
    std::vector<ScaleAnswer> answers;
    protocol->Feed(std::string(200, 'a') + "b\n", answers);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].kind, ScaleAnswer::Kind::Unreadable);

    const struct {
        const char* pattern;
        const char* error;  // the start of what is told
    } patterns[] = {
        {R"((?<weight>\d+)", "missing closing parenthesis (at character 14)"},
        {R"(\d+ kg)", "the pattern has no group named weight"},
        {R"((?<weight>[)", "missing terminating ] for character class"},
    };
    for (const auto& p : patterns) {
        EXPECT_EQ(AsciiPatternError(p.pattern).rfind(p.error, 0), 0u) << AsciiPatternError(p.pattern);
        settings.pattern = p.pattern;
        EXPECT_FALSE(MakeAsciiLineProtocol(settings));
    }
    EXPECT_EQ(AsciiPatternError(DEFAULT_ASCII_PATTERN), "");
}

TEST(ScaleProtocol, BytesFromSettingsEscapes) {
    const struct {
        const char* text;
        std::optional<std::string> bytes;
    } cases[] = {
        {"P\\r\\n", "P\r\n"}, {"\\x1bp\\x00", std::string("\x1bp\0", 3)}, {"a\\\\b\\t", "a\\b\t"}, {"", ""},
        {"\\q", std::nullopt}, {"\\x1", std::nullopt}, {"\\xZZ", std::nullopt}, {"end\\", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(BytesFromEscapes(c.text), c.bytes) << c.text;
}

TEST(ScaleProtocol, AFloodWithoutAnEndIsCutIntoUnreadablePieces) {
    for (const Make& make : std::vector<Make>{MakeMtSicsProtocol, [] { return MakeToledoProtocol("lb"); }, MakeNciProtocol,
                                              [] { return MakeAsciiLineProtocol({}); }}) {
        std::vector<ScaleAnswer> answers;
        const auto protocol = make();
        protocol->Feed(std::string(3 * MAX_ANSWER_BYTES, '7'), answers);
        ASSERT_EQ(answers.size(), 3u);
        for (const ScaleAnswer& answer : answers) EXPECT_EQ(answer.kind, ScaleAnswer::Kind::Unreadable);
    }
}

TEST(ScaleProtocol, CommandsAndLines) {
    const struct {
        std::unique_ptr<IScaleProtocol> protocol;
        std::string poll, zero, tare, confirm;
        LineSettings line;
    } cases[] = {
        {MakeMtSicsProtocol(), "SI\r\n", "Z\r\n", "T\r\n", "I2\r\n", {9600, 8, 'N', 1}},
        {MakeToledoProtocol("lb"), "W", "Z", "T", "W", {9600, 7, 'E', 1}},
        {MakeNciProtocol(), "W\r", "Z\r", "T\r", "W\r", {9600, 7, 'E', 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.protocol->Command(ScaleCommand::Poll), c.poll);
        EXPECT_EQ(c.protocol->Command(ScaleCommand::Zero), c.zero);
        EXPECT_EQ(c.protocol->Command(ScaleCommand::Tare), c.tare);
        EXPECT_EQ(c.protocol->Command(ScaleCommand::Confirm), c.confirm);
        EXPECT_EQ(c.protocol->Line(), c.line);
        // The frames' handshake is "Z" to these scales: no command of theirs is it.
        for (const auto command : {ScaleCommand::Poll, ScaleCommand::Confirm})
            EXPECT_EQ(c.protocol->Command(command).find('\x5A'), std::string::npos);
    }
}

TEST(ScaleProtocol, NamesAndLineSettingsFromSettings) {
    for (const char* name : {"frames", "mt-sics", "toledo", "nci", "ascii"})
        EXPECT_EQ(ScaleProtocolName(ScaleProtocolNamed(name).value()), name);
    for (const char* name : {"", "MT-SICS", "toledo ", "sics"}) EXPECT_FALSE(ScaleProtocolNamed(name)) << name;

    const struct {
        const char* text;
        std::optional<LineSettings> line;
    } cases[] = {
        {"9600,7,E,1", LineSettings{9600, 7, 'E', 1}},
        {"19200,8,n,2", LineSettings{19200, 8, 'N', 2}},
        {"2400,7,O,1", LineSettings{2400, 7, 'O', 1}},
        {"9600,6,E,1", std::nullopt}, {"9601,8,N,1", std::nullopt}, {"9600,8,X,1", std::nullopt},
        {"9600,8,N,3", std::nullopt}, {"9600,8,N", std::nullopt}, {"9600,8,N,1,1", std::nullopt},
        {"9600,8,NN,1", std::nullopt}, {" 9600,8,N,1", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(LineSettingsFrom(c.text), c.line) << c.text;
}

}  // namespace
}  // namespace tarvex::test
