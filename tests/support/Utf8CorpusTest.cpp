// Checks the UTF-8 conversions against results that Python's codecs wrote
// into the corpus (see data/make_utf8_corpus.py).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/CharsetConversion.h"
#include "support/TextConversion.h"

namespace {

std::string BytesFromHex(const std::string& hex) {
    std::string out;
    if (hex == "-") {
        return out;
    }
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::u16string UnitsFromHex(const std::string& hex) {
    std::u16string out;
    if (hex == "-") {
        return out;
    }
    for (std::size_t i = 0; i + 3 < hex.size(); i += 4) {
        out.push_back(static_cast<char16_t>(std::stoi(hex.substr(i, 4), nullptr, 16)));
    }
    return out;
}

TEST(Utf8Corpus, AgreesWithPython) {
    std::ifstream corpus(ZQT_UTF8_CORPUS);
    ASSERT_TRUE(corpus) << ZQT_UTF8_CORPUS;
    int utf8Lines = 0;
    int utf16Lines = 0;
    std::string line;
    while (std::getline(corpus, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string kind;
        std::string input;
        fields >> kind >> input;
        if (kind == "u8") {
            std::string utf16;
            std::string sanitized;
            fields >> utf16 >> sanitized;
            const std::string bytes = BytesFromHex(input);
            EXPECT_EQ(zqt::Utf8ToUtf16(bytes), UnitsFromHex(utf16)) << line;
            EXPECT_EQ(zqt::SanitizeUtf8(bytes), BytesFromHex(sanitized)) << line;
            EXPECT_EQ(zqt::Utf16ToUtf8(zqt::detail::DecodeUtf8(bytes)), BytesFromHex(sanitized))
                << line;
            ++utf8Lines;
        } else if (kind == "u16") {
            std::string utf8;
            fields >> utf8;
            EXPECT_EQ(zqt::Utf16ToUtf8(UnitsFromHex(input)), BytesFromHex(utf8)) << line;
            ++utf16Lines;
        } else {
            ADD_FAILURE() << "unknown corpus line: " << line;
        }
    }
    EXPECT_GT(utf8Lines, 2000);
    EXPECT_GT(utf16Lines, 300);
}

}  // namespace
