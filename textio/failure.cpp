#include "textio/failure.hpp"

#include <cstring>
#include <utility>

namespace textio {

std::string failure_message(const io_failure& failure) {
    switch (failure.kind) {
        case failure_kind::end_of_file: return "Attempt to read past end of file";
        case failure_kind::illegal_character: return "Illegal character in numeric input";
        case failure_kind::system: return std::strerror(failure.error_number);
        case failure_kind::in_use: return failure.file_name + " is in use by another run";
        case failure_kind::dangling_link: return failure.file_name + " is a link to a missing file";
        case failure_kind::same_as_input: return failure.file_name + " is the input file " + failure.text;
        case failure_kind::bad_compressed_data: return failure.text;
    }
    return {};
}

io_failure failure_at(failure_kind kind, std::string operation, int unit, std::string file_name, long line) {
    io_failure failure;
    failure.kind = kind;
    failure.operation = std::move(operation);
    failure.unit = unit;
    failure.file_name = std::move(file_name);
    failure.line = line;
    return failure;
}

void raise_failure(io_failure failure) {
    failure.message = failure_message(failure);
    throw std::move(failure);
}

}  // namespace textio
