// The terminal: standard input for answers, standard output for prompts and messages.
#pragma once
#include "textio/units.hpp"
#include "textio/write.hpp"

namespace textio {

out_unit& terminal_output();
in_unit& terminal_input();

}  // namespace textio
