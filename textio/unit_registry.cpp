// The registry of open units, and the closing of all of them at the stop and after a
// failure.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {
namespace {

in_unit* open_inputs[max_open_units];
out_unit* open_outputs[max_open_units];

template <typename Unit>
void register_unit(Unit** table, Unit* unit) {
    for (int i = 0; i < max_open_units; ++i) {
        if (table[i] == unit) return;
    }
    for (int i = 0; i < max_open_units; ++i) {
        if (!table[i]) {
            table[i] = unit;
            return;
        }
    }
}

template <typename Unit>
void unregister_unit(Unit** table, const Unit* unit) {
    for (int i = 0; i < max_open_units; ++i) {
        if (table[i] == unit) table[i] = nullptr;
    }
}

}  // namespace

void register_input(in_unit& u) { register_unit(open_inputs, &u); }
void unregister_input(const in_unit& u) { unregister_unit(open_inputs, &u); }
void register_output(out_unit& u) { register_unit(open_outputs, &u); }
void unregister_output(const out_unit& u) { unregister_unit(open_outputs, &u); }

bool within_a_mapped_input(std::uintptr_t address) {
    // A unit that holds no mapping holds no address space either (map_length 0).
    for (const in_unit* u : open_inputs) {
        if (!u) continue;
        const auto first = reinterpret_cast<std::uintptr_t>(u->buffer);
        if (address >= first && address < first + u->map_length) return true;
    }
    return false;
}

void raise_system(int error, const char* operation, int unit, const std::string& name, long line) {
    io_failure failure = failure_at(failure_kind::system, operation, unit, name, line);
    failure.error_number = error;
    raise_failure(std::move(failure));
}

std::string_view without_trailing_blanks(std::string_view name) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

int close_descriptor(int fd) {
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

void close_all_units() {
    for (out_unit*& slot : open_outputs) {
        out_unit* u = slot;
        if (!u) continue;
        slot = nullptr;
        write_pending(*u);
        close_descriptor(u->fd);
        u->fd = -1;
    }
    for (in_unit*& slot : open_inputs) {
        in_unit* u = slot;
        if (!u) continue;
        slot = nullptr;
        stop_spool(*u);  // before its copy, the unit's descriptor, is closed
        close_descriptor(u->fd);
        release_input(*u);
    }
}

}  // namespace textio
