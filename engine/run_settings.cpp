#include "engine/run_settings.hpp"

#include "textio/convert.hpp"

namespace engine {

std::int32_t missing_month_limit(std::int32_t potential_months, float fraction) {
    if (fraction == 0.0f) return 0;
    if (fraction > 0.0f) return textio::truncate_to_int32(static_cast<float>(potential_months) * fraction);
    return potential_months;
}

}  // namespace engine
