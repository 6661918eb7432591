#include "textio/failure.hpp"

#include <cstdio>
#include <cstdlib>

namespace textio {
namespace {

void default_report(const io_failure& failure) {
    const char* message = failure_message(failure.kind);
    std::fprintf(stderr, "? Run-time error\n? %s\n? %s(UNIT=*,...\n", message ? message : "System Error:",
                 failure.operation);
    std::exit(255);
}

failure_handler installed_handler = default_report;

}  // namespace

void set_failure_handler(failure_handler handler) { installed_handler = handler ? handler : default_report; }

void raise_failure(const io_failure& failure) {
    installed_handler(failure);
    std::abort();  // a handler must not return
}

const char* failure_message(failure_kind kind) {
    switch (kind) {
        case failure_kind::end_of_file: return "Attempt to read past end of file";
        case failure_kind::illegal_character: return "Illegal character in numeric input";
        case failure_kind::system:
        case failure_kind::in_use: return nullptr;
    }
    return nullptr;
}

}  // namespace textio
