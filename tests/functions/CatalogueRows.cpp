#include "CatalogueRows.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr auto Main = Target::Main;
constexpr auto Enrol = Target::Enrolment;
constexpr auto Number = Returns::Number;
constexpr auto Text = Returns::Text;
constexpr auto T = Arg::Text;
constexpr auto N = Arg::Number;

}  // namespace

const std::vector<CatalogueRow>& CatalogueRows() {
    // clang-format off
    static const std::vector<CatalogueRow> rows = {
        {1, 1, "SetCertChooseType", Main, 1, Number, {N}},
        {2, 2, "SetCertEx", Main, 2, Number, {T, T, T, T, T, T, T}},
        {3, 3, "GetCertInfo", Main, 3, Text, {N, T}},
        {4, 4, "SetAlgorithm", Main, 4, Number, {T, T}},
        {5, 5, "SetCert", Main, 5, Number, {T, T, T, T, T, T}},
        {6, 6, "DetachSign", Main, 6, Text, {T, T}},
        {7, 7, "VerifyDetachedSign", Main, 7, Number, {T, T}},
        {8, 8, "AttachSign", Main, 8, Text, {T, T}},
        {9, 9, "VerifyAttachedSign", Main, 9, Number, {T}},
        {10, 10, "Sign", Main, 10, Text, {T, T}},
        {11, 11, "VerifySign", Main, 11, Number, {T, T, T}},
        {12, 12, "EncryptEnvelop", Main, 12, Text, {T, T}},
        {13, 13, "DecryptEnvelop", Main, 13, Text, {T}},
        {14, 14, "SM2SignEx2", Main, 14, Text, {T}},
        {15, 15, "SM2Verify", Main, 15, Number, {T, T, T}},
        {16, 16, "GenRandom", Main, 16, Text, {N}},
        {17, 17, "SM2EncryptEnvelop", Main, 54, Text, {T, T}},
        {18, 18, "SM2DecryptEnvelop", Main, 58, Text, {T}},
        {19, 19, "EncryptEnvelopEx", Main, 19, Text, {T, T, T}},
        {20, 20, "DecryptEnvelopEx", Main, 20, Number, {T, T}},
        {21, 21, "DetachSignEx", Main, 21, Text, {T, T, T}},
        {22, 22, "VerifyDetachedSignEx", Main, 22, Number, {T, T, T}},
        {23, 23, "AttachSignEx", Main, 23, Text, {T, T, T}},
        {24, 24, "VerifyAttachedSignEx", Main, 24, Number, {T}},
        {25, 25, "SignEx", Main, 25, Text, {T, T, T}},
        {26, 26, "VerifySignEx", Main, 26, Number, {T, T, T, T}},
        {27, 27, "SM2SignEx3", Main, 27, Text, {T, T}},
        {28, 28, "SM2VerifySignEx", Main, 28, Number, {T, T, T, T}},
        {29, 29, "SM2EncryptEnvelopEx", Main, 55, Text, {T, T, T}},
        {30, 30, "SM2DecryptEnvelopEx", Main, 59, Number, {T, T}},
        {31, 31, "GetErrorCode", Main, 31, Number, {}},
        {32, 32, "GetErrorMessage", Main, 32, Text, {}},
        {33, 33, "LoadSealFromKey", Main, 34, Text, {T, T}},
        {34, 34, "GetBmpFromSealData", Main, 33, Text, {T, Arg::Unsigned}},
        {35, 35, "GetAttachedSignSource", Main, 35, Text, {}},
        {36, 36, "CheckPfxCertInIE", Main, 36, Number, {T}},
        {37, 37, "PfxCertDownLoad", Main, 37, Number, {T, T}},
        {38, 38, "CreateSignedEnvelop", Main, 38, Text, {T, T, T}},
        {39, 39, "VerifySignedEnvelop", Main, 39, Text, {T}},
        {40, 40, "CreateSignedEnvelopEx", Main, 40, Text, {T, T, T, T}},
        {41, 41, "VerifySignedEnvelopEx", Main, 41, Number, {T, T}},
        {42, 42, "SM2SignInit", Main, 42, Number, {T}},
        {43, 43, "SM2SignFinal", Main, 43, Number, {}},
        {44, 44, "GenRandomEx", Main, 44, Text, {N}},
        {45, 45, "DESCbcEncrypt", Main, 45, Text, {T, T}},
        {46, 46, "DESCbcDecrypt", Main, 46, Text, {T, T}},
        {47, 47, "RSAEncrypt", Main, 47, Text, {T, T}},
        {48, 48, "RSADecrypt", Main, 48, Text, {T}},
        {49, 49, "SM2Sign", Main, 49, Text, {T, T}},
        {50, 50, "SM2SignEx", Main, 50, Text, {T, T, T}},
        {51, 51, "SignSeal", Main, 64, Text, {T, T}},
        {52, 52, "SM2EncryptInit", Main, 52, Number, {}},
        {53, 53, "SM2EncryptFinal", Main, 53, Number, {}},
        {56, 56, "SM2DecryptInit", Main, 56, Number, {}},
        {57, 57, "SM2DecryptFinal", Main, 57, Number, {}},
        {60, 60, "SM2Encrypt", Main, 60, Text, {T, T}},
        {61, 61, "SM2Decrypt", Main, 61, Text, {T}},
        {74, 74, "SM2DetachSign", Main, 74, Text, {T, T}},
        {75, 75, "SM2VerifyDetachSign", Main, 75, Number, {T, T}},
        {76, 76, "SM2AttachSign", Main, 76, Text, {T, T}},
        {77, 77, "SM2VerifyAttachSign", Main, 77, Number, {T}},
        {82, 82, "GMSM2DecryptEnvelop", Main, 82, Text, {T}},
        {83, 83, "GMSM2EncryptEnvelop", Main, 83, Text, {T, T}},
        {92, 92, "CheckUkey", Main, 92, Number, {T, T}},
        {94, 94, "GMSM2VerifySign", Main, 94, Number, {T, T, T}},
        {96, 96, "GMSM2Sign", Main, 96, Text, {T, T}},
        {98, 98, "GetGMSealPicBase64FromDev", Main, 98, Text, {T}},
        {99, 99, "GetUselist", Main, 99, Text, {}},
        {100, 100, "GMSM2Signhash", Main, 100, Text, {T, T}},
        {104, 104, "ULVO_ReadSealPicBase64FromKeyByCertSN", Main, 104, Text, {T}},
        {113, 113, "EncryptAesFile", Main, 113, Number, {T, T, T}},
        {118, 118, "DecryptAesFile", Main, 118, Number, {T, T, T}},
        {119, 119, "GMSM2SoftEncryptEnvelop", Main, 119, Text, {T, T}},
        {121, 121, "ZQTReadGMSealData", Main, 121, Text, {T}},
        {125, 125, "GetKRVVersion", Main, 125, Text, {}},
        {126, 126, "CompareKRVVersion", Main, 126, Number, {T}},
        {127, 127, "NotifyKRVFlush", Main, 124, Number, {T}},
        {128, 128, "Signhash", Main, 128, Text, {T, Arg::FixedTwo, T}},
        {129, 129, "FileEncrypt", Main, 194, Text, {T, T, T}},
        {130, 130, "FileDecrypt", Main, 195, Number, {T, T, T}},
        {131, 131, "GetSealInfos", Main, 199, Text, {T}},
        {132, 132, "ZQTCheckUkeyPin", Main, 129, Number, {T, T}},
        {151, 206, "ReadSealData", Main, 151, Text, {T}},
        {152, 152, "FileEnc", Main, 111, Number, {T, T, T}},
        {153, 153, "FileDec", Main, 112, Number, {T, T, T}},
        {154, 154, "GenSymmetrickey", Main, 196, Text, {}},
        {159, 159, "GetUkeySerialNumberByCertSN", Main, 159, Text, {T}},
        {201, 201, "GetSealIndata", Main, 148, Text, {Arg::Decoded}},
        {202, 202, "GetSealData", Main, 149, Text, {Arg::Decoded}},
        {203, 203, "WriteSealData", Main, 150, Number, {T, T}},
        {204, 204, "WriteLicenceData", Main, 152, Number, {T, T}},
        {205, 205, "ReadLicenceData", Main, 153, Text, {T}},
        {206, 206, "ReadSealData", Main, 151, Text, {T}},
        {207, 207, "WriteSealByType", Main, 189, Number, {T, T, N}},
        {208, 208, "ReadSealByType", Main, 190, Text, {T, N}},
        {301, 301, "ZQT_Initialize", Enrol, 1, Number, {}},
        {302, 302, "ZQT_InitDevNameList", Enrol, 2, Number, {}},
        {303, 303, "ZQT_GetFirstDevName", Enrol, 3, Text, {}},
        {304, 304, "ZQT_SetUSBKeyType", Enrol, 4, Number, {T, T, T}},
        {305, 305, "ZQT_CreateP10", Enrol, 5, Text, {}},
        {306, 306, "ZQT_CreatedoubleP10", Enrol, 6, Text, {}},
        {307, 307, "ZQT_InstallSignCertAndEnCert", Enrol, 7, Number, {T, T, T}},
        {308, 308, "ZQT_GetLastErrCode", Enrol, 8, Number, {}},
        {309, 309, "ZQT_GetLastErrMsg", Enrol, 9, Text, {}},
        {310, 310, "ZQT_SetUSBKeyTypeEx", Enrol, 10, Number, {T, T}},
        {311, 311, "ZQT_GetDevInfoList", Enrol, 11, Text, {}},
        {312, 312, "ZQT_InstallSeal", Enrol, 12, Number, {T, T}},
        {313, 313, "ZQT_GetDevInfoListEx", Enrol, 13, Text, {}},
        {401, 401, "GetCertAndSeallist", Target::CachedList, 0, Text, {}},
        {402, 402, "GetPCinfo", Main, 176, Text, {}},
        {4011, 4011, "GetCertAndSeallistXEPA", Target::CachedListXepa, 0, Text, {}},
    };
    // clang-format on
    return rows;
}

void PrintTo(const CatalogueRow& row, std::ostream* os) {
    *os << row.number << " " << row.name;
}

void PrintTo(const RecordedArg& arg, std::ostream* os) {
    switch (arg.vt) {
        case ZQT_VT_I4:
            *os << "I4 " << arg.i4;
            break;
        case ZQT_VT_UI4:
            *os << "UI4 " << arg.ui4;
            break;
        case ZQT_VT_BSTR:
            *os << "BSTR " << ::testing::PrintToString(arg.text);
            break;
        default:
            *os << "vt " << arg.vt;
    }
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

namespace {

// The row's argument fed by key ParamN (1-based), or nullptr.
const Arg* ArgOfKey(const CatalogueRow& row, size_t key) {
    size_t next = 1;
    for (const Arg& arg : row.args) {
        if (arg == Arg::FixedTwo) {
            continue;
        }
        if (next++ == key) {
            return &arg;
        }
    }
    return nullptr;
}

std::string TextValue(const CatalogueRow& row, size_t key) {
    return "p" + std::to_string(key) + "-" + std::to_string(row.number);
}

int32_t NumberValue(const CatalogueRow& row, size_t key) {
    return row.number * 10 + static_cast<int32_t>(key);
}

}  // namespace

std::u16string ParamValue(const CatalogueRow& row, size_t key) {
    const Arg* arg = ArgOfKey(row, key);
    if (arg == nullptr) {
        return Wide("x" + std::to_string(key));
    }
    switch (*arg) {
        case Arg::Number:
        case Arg::Unsigned:
            return Wide(std::to_string(NumberValue(row, key)));
        case Arg::Decoded:
            return Wide(Base64(TextValue(row, key)));
        default:
            return Wide(TextValue(row, key));
    }
}

std::u16string StepBody(const CatalogueRow& row, const std::u16string& extra) {
    std::u16string body = u"FunctionType[" + Wide(std::to_string(row.number)) + u"]";
    for (size_t key = 1; key <= 7; ++key) {
        body += u"Param" + Wide(std::to_string(key)) + u"[" + ParamValue(row, key) + u"]";
    }
    return body + extra;
}

std::vector<RecordedArg> ExpectedArgs(const CatalogueRow& row) {
    std::vector<RecordedArg> args;
    size_t key = 1;
    for (const Arg& arg : row.args) {
        switch (arg) {
            case Arg::FixedTwo:
                args.push_back(I4(2));
                continue;
            case Arg::Number:
                args.push_back(I4(NumberValue(row, key)));
                break;
            case Arg::Unsigned:
                args.push_back(Ui4(static_cast<uint32_t>(NumberValue(row, key))));
                break;
            case Arg::Text:
            case Arg::Decoded:
                args.push_back(Bstr(Wide(TextValue(row, key))));
                break;
        }
        ++key;
    }
    return args;
}

std::u16string SingleStepRequest(const std::u16string& stepBody) {
    return u"ProcessNum{1}ProcessEntity-1{" + stepBody + u"}ProcessCallBackName{cb}";
}

std::u16string BranchRequest(const std::u16string& stepBody) {
    return u"ProcessNum{3}ProcessEntity-1{" + stepBody +
           u"TrueNext[2]FalseNext[3]}ProcessEntity-2{FunctionType[" +
           Wide(std::to_string(kTrueMarker)) + u"]}ProcessEntity-3{FunctionType[" +
           Wide(std::to_string(kFalseMarker)) + u"]}ProcessCallBackName{cb}";
}

std::u16string Response(int32_t functionType, const std::u16string& result) {
    return u"FunctionType[" + Wide(std::to_string(functionType)) + u"]FunctionRes[" + result +
           u"]ProcessCallBackName[cb]";
}

std::string Base64(const std::string& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (size_t k = 0; k < 4; ++k) {
            out += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}
