#pragma once
// SM2 and RSA encryption of short data, and the SM2 batches; their rows are
// in EnvelopeMethods.cpp's table.

#include <string>

#include "control/MainControl.h"
#include "control/MethodArgs.h"

namespace ref {

std::string Sm2EncryptText(MainControl& c, const MethodArgs& a);
std::string Sm2DecryptText(MainControl& c, const MethodArgs& a);
int32_t Sm2EncryptInit(MainControl& c, const MethodArgs& a);
int32_t Sm2EncryptFinal(MainControl& c, const MethodArgs& a);
int32_t Sm2DecryptInit(MainControl& c, const MethodArgs& a);
int32_t Sm2DecryptFinal(MainControl& c, const MethodArgs& a);
std::string RsaEncryptText(MainControl& c, const MethodArgs& a);
std::string RsaDecryptText(MainControl& c, const MethodArgs& a);

}  // namespace ref
