#include "tests/support/archive_names.hpp"

namespace support {

output_names outputs_for_choice(int data_type) {
    switch (data_type) {
        case 1: return {"QORN_TAVEq.TSF", "QORNTAVEq.YX"};
        case 2: return {"QORN_TMAXq.TSF", "QORNTMAXq.YX"};
        case 3: return {"QORN_TMINq.TSF", "QORNTMINq.YX"};
        default: return {"QORN__TAVE.TSF", "QORN_TAVE.YX"};
    }
}

}  // namespace support
