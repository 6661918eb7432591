// Files of a single test: unique names under GoogleTest's temporary directory, written
// and read back byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace support {

// A path under ::testing::TempDir() that no other call of this process returns; `stem`
// ends it, so a failing test names a file one can recognise.
std::string scratch_path(std::string_view stem);

// Writes `bytes` to a fresh scratch path and returns the path.
std::string write_temp_file(std::string_view stem, std::string_view bytes);

// The whole file, or an empty string when it cannot be read.
std::string file_bytes(const std::string& path);

}  // namespace support
