#pragma once
// Recorded results (one "key hash" line each) that a later change must reproduce exactly.
// With JX_RECORD_BASELINE=1 in the environment the table is written instead of compared.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "common/test_data.h"

namespace jx::test {

inline uint64_t Fnv1a(const void* data, size_t size, uint64_t h = 14695981039346656037ull) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

inline std::string Hex(uint64_t v) {
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

inline void CheckBaseline(const std::string& table, const std::map<std::string, std::string>& got) {
    const auto path = DataDir() / "baselines" / table;
    if (const char* rec = std::getenv("JX_RECORD_BASELINE"); rec && std::string(rec) == "1") {
        std::ofstream out(path, std::ios::trunc);
        for (const auto& [k, v] : got) out << k << ' ' << v << '\n';
        return;
    }
    std::ifstream in(path);
    ASSERT_TRUE(in) << "missing " << path;
    std::map<std::string, std::string> want;
    std::string k, v;
    while (in >> k >> v) want[k] = v;
    EXPECT_EQ(want.size(), got.size());
    for (const auto& [key, value] : want) {
        auto it = got.find(key);
        if (it == got.end()) {
            ADD_FAILURE() << key << " not produced";
            continue;
        }
        EXPECT_EQ(it->second, value) << key;
    }
}

}  // namespace jx::test
