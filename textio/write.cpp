#include "textio/write.hpp"

#include <string>

namespace textio {
namespace {

// One record buffer per thread reused by every write, so a write allocates nothing once
// warm, and writers on two threads (the files behind the station pass) never share it.
std::string& scratch() {
    thread_local std::string record;
    record.clear();
    return record;
}

}  // namespace

void write_formatted(out_unit& u, const format_list& list, std::span<const out_item> items) {
    std::string& record = scratch();
    append_formatted(record, list, items);
    write_bytes(u, record);
}

void write_free_form(out_unit& u, std::span<const out_item> items) {
    std::string& record = scratch();
    append_free_form(record, items);
    write_bytes(u, record);
}

}  // namespace textio
