#include "tests/support/temp_files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>

namespace support {

std::string scratch_path(std::string_view stem) {
    // The process id keeps apart the test processes that CTest runs side by side.
    static std::atomic<int> counter = 0;
    return ::testing::TempDir() + "varnex_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + "_" +
           std::string(stem);
}

std::string write_temp_file(std::string_view stem, std::string_view bytes) {
    const std::string path = scratch_path(stem);
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    EXPECT_FALSE(file.fail()) << "cannot write " << path;
    return path;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace support
