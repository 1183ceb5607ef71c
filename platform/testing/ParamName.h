// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- names a parameterised test's cases by the Name
// field of their parameter, the way every case table here does.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace platform::testing {

struct ParamName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& param) const {
        return std::string(param.param.Name);
    }
};

}  // namespace platform::testing
