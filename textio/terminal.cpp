#include "textio/terminal.hpp"

namespace textio {

// Attached in place: the unit registry keeps the address of each open unit.
out_unit& terminal_output() {
    static out_unit unit;
    static const bool attached = (attach_standard_output(unit), true);
    (void)attached;
    return unit;
}

in_unit& terminal_input() {
    static in_unit unit;
    static const bool attached = (attach_standard_input(unit), true);
    (void)attached;
    return unit;
}

}  // namespace textio
