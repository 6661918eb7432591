// Lost pages: a mapped input cut short by another process while it is read.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "textio/detail/unit_support.hpp"

namespace textio {
namespace {

// A mapped file cut short by another process while it is read: touching a page past its
// new end raises SIGBUS. The handler maps a page of zeros there and notes the lowest such
// page, and the reader reports a read failure when it comes to that page, in order, as
// reading through a buffer would have found the file shorter. These are process-wide
// because a signal handler can reach nothing else.
std::atomic<std::uintptr_t> lowest_lost_page{UINTPTR_MAX};
std::size_t handler_page_size = 4096;
struct sigaction bus_action_before;

void on_lost_page(int signal, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::uintptr_t page = address / handler_page_size * handler_page_size;
    const bool ours = signal == SIGBUS && within_a_mapped_input(address);
    if (!ours || ::mmap(reinterpret_cast<void*>(page), handler_page_size, PROT_READ,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
        ::sigaction(SIGBUS, &bus_action_before, nullptr);  // the fault comes back, as it would have
        return;
    }
    std::uintptr_t lowest = lowest_lost_page.load();
    while (page < lowest && !lowest_lost_page.compare_exchange_weak(lowest, page)) {}
}

}  // namespace

std::size_t page_size() {
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

void watch_for_lost_pages() {
    static const bool installed = [] {
        handler_page_size = page_size();
        struct sigaction action {};
        action.sa_sigaction = on_lost_page;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &bus_action_before) == 0;
    }();
    (void)installed;
}

// A read failure when bytes before `offset` of a mapped file were lost.
void check_not_lost(const in_unit& u, std::size_t offset) {
    const std::uintptr_t lost = lowest_lost_page.load(std::memory_order_relaxed);
    if (lost == UINTPTR_MAX) return;
    const auto first = reinterpret_cast<std::uintptr_t>(u.buffer);
    if (lost >= first && lost < first + offset) raise_system(EIO, "READ", u.unit, u.name, u.line + 1);
}

std::int64_t lost_offset(const in_unit& u) {
    const std::uintptr_t lost = lowest_lost_page.load(std::memory_order_relaxed);
    const auto first = reinterpret_cast<std::uintptr_t>(u.buffer);
    if (lost == UINTPTR_MAX || lost < first || lost >= first + u.end) return -1;
    return static_cast<std::int64_t>(lost - first);
}

// A lost page noted in a mapping that goes away must not be taken for one of a mapping
// made later at the same address.
void forget_lost_pages(const in_unit& u) {
    const auto first = reinterpret_cast<std::uintptr_t>(u.buffer);
    std::uintptr_t lost = lowest_lost_page.load();
    while (lost >= first && lost < first + u.map_length && !lowest_lost_page.compare_exchange_weak(lost, UINTPTR_MAX)) {
    }
}

}  // namespace textio
