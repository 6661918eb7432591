// Name generators for INSTANTIATE_TEST_SUITE_P, so that a parameterised case is named by
// what it is about instead of GoogleTest's dump of its bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/text.hpp"

namespace support {

// For tables whose parameter is the text itself.
struct named_by_text {
    std::string operator()(const ::testing::TestParamInfo<const char*>& param_info) const {
        return name_part(param_info.param);
    }
};

// For tables of structs named by one text member, e.g. named_by<&answer_case::typed>.
template <auto Member>
struct named_by {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& param_info) const {
        return name_part(param_info.param.*Member);
    }
};

// For tables of structs that carry their own name (letters, digits and underscores).
struct named_by_name {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& param_info) const {
        return param_info.param.name;
    }
};

}  // namespace support
