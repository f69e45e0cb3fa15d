#pragma once
// Certificates, keys and the machine on the main control; device enrolment on
// the enrolment control.

#include "functions/ControlCall.h"

class Function_SetCertChooseType final : public MainCall<1, NumberResult, I4> {};
class Function_SetCertEx final
    : public MainCall<2, NumberResult, Bstr, Bstr, Bstr, Bstr, Bstr, Bstr, Bstr> {};
class Function_GetCertInfo final : public MainCall<3, TextResult, I4, Bstr> {};
class Function_SetAlgorithm final : public MainCall<4, NumberResult, Bstr, Bstr> {};
class Function_SetCert final
    : public MainCall<5, NumberResult, Bstr, Bstr, Bstr, Bstr, Bstr, Bstr> {};
class Function_GetErrorCode final : public MainCall<31, NumberResult> {};
class Function_GetErrorMessage final : public MainCall<32, TextResult> {};
class Function_CheckPfxCertInIE final : public MainCall<36, NumberResult, Bstr> {};
class Function_PfxCertDownLoad final : public MainCall<37, NumberResult, Bstr, Bstr> {};
class Function_CheckUkey final : public MainCall<92, NumberResult, Bstr, Bstr> {};
class Function_GetKRVVersion final : public MainCall<125, TextResult> {};
class Function_CompareKRVVersion final : public MainCall<126, NumberResult, Bstr> {};
class Function_NotifyKRVFlush final : public MainCall<124, NumberResult, Bstr> {};
class Function_ZQTCheckUkeyPin final : public MainCall<129, NumberResult, Bstr, Bstr> {};
class Function_GetUkeySerialNumberByCertSN final : public MainCall<159, TextResult, Bstr> {};
class Function_GetPCinfo final : public MainCall<176, TextResult> {};

class Function_ZQT_Initialize final : public EnrolmentCall<1, NumberResult> {};
class Function_ZQT_InitDevNameList final : public EnrolmentCall<2, NumberResult> {};
class Function_ZQT_GetFirstDevName final : public EnrolmentCall<3, TextResult> {};
class Function_ZQT_SetUSBKeyType final : public EnrolmentCall<4, NumberResult, Bstr, Bstr, Bstr> {};
class Function_ZQT_CreateP10 final : public EnrolmentCall<5, TextResult> {};
class Function_ZQT_CreatedoubleP10 final : public EnrolmentCall<6, TextResult> {};
class Function_ZQT_InstallSignCertAndEnCert final
    : public EnrolmentCall<7, NumberResult, Bstr, Bstr, Bstr> {};
class Function_ZQT_GetLastErrCode final : public EnrolmentCall<8, NumberResult> {};
class Function_ZQT_GetLastErrMsg final : public EnrolmentCall<9, TextResult> {};
class Function_ZQT_SetUSBKeyTypeEx final : public EnrolmentCall<10, NumberResult, Bstr, Bstr> {};
class Function_ZQT_GetDevInfoList final : public EnrolmentCall<11, TextResult> {};
class Function_ZQT_InstallSeal final : public EnrolmentCall<12, NumberResult, Bstr, Bstr> {};
class Function_ZQT_GetDevInfoListEx final : public EnrolmentCall<13, TextResult> {};
