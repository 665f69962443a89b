// The numbers astropy_reference.py wrote for this build (CTest runs it first,
// as the fixture mapping.astropy_reference), and a way to read them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace mapping_reference {

inline std::filesystem::path directory() { return NEBULITE_MAPPING_REFERENCE_DIR; }

// Skips the test when the reference was not made (no astropy here).
#define REQUIRE_REFERENCE(file)                                                                          \
    do {                                                                                                 \
        if (!std::filesystem::exists(mapping_reference::directory() / (file)))                           \
            GTEST_SKIP() << "no " << (file) << ": run astropy_reference.py (needs python3-astropy)";    \
    } while (0)

template <typename T>
std::vector<T> readRaw(const std::string& name) {
    std::ifstream in(directory() / name, std::ios::binary);
    std::vector<T> values;
    T v;
    while (in.read(reinterpret_cast<char*>(&v), sizeof v)) values.push_back(v);
    return values;
}

}  // namespace mapping_reference
