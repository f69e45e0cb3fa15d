// What the client sends: the commands in order, every text %-escaped into
// one line, over-long texts cut safely, SETTIMEOUT always, and never an
// offer to cache the PIN.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "pin/PinTestSupport.h"

namespace {

using pintest::PinEntryTest;
using pintest::Request;
using pintest::Settings;
using ref::PinStatus;

struct EscapeCase {
    std::string text;
    std::string escaped;
};

void PrintTo(const EscapeCase& row, std::ostream* out) {
    for (char c : row.escaped) {
        *out << (c >= 0x20 && c < 0x7f ? c : '?');
    }
}

class Escape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(Escape, ControlBytesAndPercentBecomeHex) {
    EXPECT_EQ(ref::AssuanEscape(GetParam().text), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Escape,
    ::testing::Values(EscapeCase{"", ""}, EscapeCase{"plain text", "plain text"},
                      EscapeCase{"100%", "100%25"}, EscapeCase{"%25", "%2525"},
                      EscapeCase{"a\r\nb", "a%0D%0Ab"}, EscapeCase{"tab\there", "tab%09here"},
                      EscapeCase{std::string("nul\0x", 5), "nul%00x"},
                      EscapeCase{"\x1f\x7f", "%1F\x7f"}, EscapeCase{"€ ü", "€ ü"},
                      EscapeCase{"+\\ '\"", "+\\ '\""}));

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines,
                                    const std::string& prefix) {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return found;
}

TEST_F(PinEntryTest, AskPinSendsTheFullSequence) {
    fake_.Set(FakePinentry::Action::kPin, "1234");
    ref::PinRequest request = Request("Sign with CN=test");
    request.error = "Wrong PIN, 2 tries left";
    request.repeat = true;
    ASSERT_EQ(ref::AskPin(Settings(fake_.program(), 45), request).status, PinStatus::kOk);
    EXPECT_EQ(fake_.Lines(),
              (std::vector<std::string>{"SETTITLE zqtca", "SETDESC Sign with CN=test",
                                        "SETPROMPT PIN:", "SETERROR Wrong PIN, 2 tries left",
                                        "SETREPEAT Repeat:", "SETTIMEOUT 45", "GETPIN", "BYE"}));
}

TEST_F(PinEntryTest, AskPinLeavesOutAnEmptyErrorAndRepeat) {
    fake_.Set(FakePinentry::Action::kPin, "1234");
    ASSERT_EQ(ref::AskPin(Settings(fake_.program(), 60), Request("d")).status, PinStatus::kOk);
    EXPECT_EQ(fake_.Lines(),
              (std::vector<std::string>{"SETTITLE zqtca", "SETDESC d",
                                        "SETPROMPT PIN:", "SETTIMEOUT 60", "GETPIN", "BYE"}));
}

TEST_F(PinEntryTest, AskConfirmSendsConfirmOnly) {
    fake_.Set(FakePinentry::Action::kConfirm);
    ASSERT_EQ(ref::AskConfirm(Settings(fake_.program(), 60), "t", "Import?").status,
              PinStatus::kOk);
    EXPECT_EQ(fake_.Lines(), (std::vector<std::string>{"SETTITLE t", "SETDESC Import?",
                                                       "SETTIMEOUT 60", "CONFIRM", "BYE"}));
}

struct TimeoutCase {
    int configured;
    std::string sent;
};

void PrintTo(const TimeoutCase& row, std::ostream* out) {
    *out << row.configured << " s";
}

class Timeout : public PinEntryTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(Timeout, IsAlwaysSent) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    ASSERT_EQ(ref::AskPin(Settings(fake_.program(), GetParam().configured), Request()).status,
              PinStatus::kOk);
    ASSERT_EQ(ref::AskConfirm(Settings(fake_.program(), GetParam().configured), "t", "d").status,
              PinStatus::kOk);
    EXPECT_EQ(WithPrefix(fake_.Lines(), "SETTIMEOUT"),
              (std::vector<std::string>(2, "SETTIMEOUT " + GetParam().sent)));
}

// Zero would mean "no timeout" to pinentry while the dispatch lock is held.
INSTANTIATE_TEST_SUITE_P(Seconds, Timeout,
                         ::testing::Values(TimeoutCase{60, "60"}, TimeoutCase{1, "1"},
                                           TimeoutCase{0, "1"}, TimeoutCase{-5, "1"},
                                           TimeoutCase{1000000, "86400"}));

TEST_F(PinEntryTest, NeverOffersToCacheThePin) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    ref::PinRequest request = Request();
    request.repeat = true;
    request.error = "again";
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), request).status, PinStatus::kOk);
    ASSERT_EQ(ref::AskConfirm(Settings(fake_.program()), "t", "d").status, PinStatus::kOk);
    ASSERT_FALSE(fake_.Lines().empty());
    for (const std::string& line : fake_.Lines()) {
        EXPECT_NE(line.rfind("SETKEYINFO", 0), 0u) << line;
        EXPECT_EQ(line.find("allow-external-password-cache"), std::string::npos) << line;
    }
}

TEST_F(PinEntryTest, TextsCannotInjectCommands) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    ref::PinRequest request;
    request.title = "t\nBYE";
    request.description = "Sign 100% of\r\nGETPIN\nCN=evil\n";
    request.prompt = "PIN\rGETPIN";
    request.error = "%0AGETPIN";
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), request).status, PinStatus::kOk);
    const std::vector<std::string> lines = fake_.Lines();
    EXPECT_EQ(WithPrefix(lines, "SETDESC"),
              (std::vector<std::string>{"SETDESC Sign 100%25 of%0D%0AGETPIN%0ACN=evil%0A"}));
    EXPECT_EQ(WithPrefix(lines, "SETTITLE"), (std::vector<std::string>{"SETTITLE t%0ABYE"}));
    EXPECT_EQ(WithPrefix(lines, "SETPROMPT"), (std::vector<std::string>{"SETPROMPT PIN%0DGETPIN"}));
    EXPECT_EQ(WithPrefix(lines, "SETERROR"), (std::vector<std::string>{"SETERROR %250AGETPIN"}));
    EXPECT_EQ(fake_.PinPrompts(), 1);
    EXPECT_EQ(lines.size(), 7u);
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool IsValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80   ? 1
                              : lead < 0xC0 ? 0
                              : lead < 0xE0 ? 2
                              : lead < 0xF0 ? 3
                                            : 4;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

const std::string kEllipsis = "\xE2\x80\xA6";

struct LongCase {
    const char* name;
    std::string description;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LongCase& row, std::ostream* out) {
    *out << row.name;
}

class LongDescription : public PinEntryTest, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongDescription, IsCutToOneSafeLine) {
    const std::string& description = GetParam().description;
    fake_.Set(FakePinentry::Action::kPin, "1");
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request(description)).status, PinStatus::kOk);
    const std::vector<std::string> lines = WithPrefix(fake_.Lines(), "SETDESC ");
    ASSERT_EQ(lines.size(), 1u);
    const std::string& line = lines[0];
    EXPECT_LE(line.size() + 1, 1000u) << "with its LF, the line exceeds Assuan's limit";
    EXPECT_GT(line.size(), 990u) << "cut more than needed";
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%') {
            ASSERT_TRUE(i + 2 < line.size() && IsHex(line[i + 1]) && IsHex(line[i + 2]))
                << "a broken escape at " << i;
        }
    }
    const std::string shown = Unescape(line.substr(8));
    ASSERT_GE(shown.size(), kEllipsis.size());
    ASSERT_EQ(shown.substr(shown.size() - kEllipsis.size()), kEllipsis);
    const std::string kept = shown.substr(0, shown.size() - kEllipsis.size());
    EXPECT_EQ(description.substr(0, kept.size()), kept);
    EXPECT_TRUE(IsValidUtf8(kept)) << "cut inside a character";
}

std::string Repeat(const std::string& unit, size_t count, const std::string& lead = "") {
    std::string out = lead;
    for (size_t i = 0; i < count; ++i) {
        out += unit;
    }
    return out;
}

// Units of 1 to 4 bytes, escaped or not, shifted so that the cut falls on
// every position within a unit and within an escape.
INSTANTIATE_TEST_SUITE_P(
    Fillers, LongDescription,
    ::testing::Values(LongCase{"Ascii", Repeat("a", 2000)}, LongCase{"Euro", Repeat("€", 700)},
                      LongCase{"EuroShift1", Repeat("€", 700, "x")},
                      LongCase{"EuroShift2", Repeat("€", 700, "xx")},
                      LongCase{"Percent", Repeat("%", 700)},
                      LongCase{"PercentShift1", Repeat("%", 700, "x")},
                      LongCase{"PercentShift2", Repeat("%", 700, "xx")},
                      LongCase{"Newlines", Repeat("\n", 700, "x")},
                      LongCase{"Emoji", Repeat("\xF0\x9F\x98\x80", 400)},
                      LongCase{"EmojiShift3", Repeat("\xF0\x9F\x98\x80", 400, "xxx")},
                      LongCase{"Mixed", Repeat("a€%\n\xF0\x9F\x98\x80", 200)},
                      LongCase{"MixedShift1", Repeat("€%\n\xF0\x9F\x98\x80"
                                                     "a",
                                                     200, "b")},
                      LongCase{"MixedShift2", Repeat("%\n\xF0\x9F\x98\x80"
                                                     "a€",
                                                     200, "bb")}),
    [](const ::testing::TestParamInfo<LongCase>& row) { return row.param.name; });

TEST_F(PinEntryTest, DescriptionThatJustFitsIsNotCut) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    // "SETDESC " + 991 bytes + LF = 1000 bytes.
    const std::string fits(991, 'a');
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request(fits)).status, PinStatus::kOk);
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request(fits + "a")).status, PinStatus::kOk);
    const std::vector<std::string> lines = WithPrefix(fake_.Lines(), "SETDESC ");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "SETDESC " + fits);
    EXPECT_EQ(lines[1].substr(lines[1].size() - kEllipsis.size()), kEllipsis);
}

}  // namespace
