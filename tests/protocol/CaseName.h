#pragma once
// Names the cases of a parameterised test after their `name` member.

#include <gtest/gtest.h>

#include <string>

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}
