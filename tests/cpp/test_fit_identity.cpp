// Bit-for-bit identity of fits, likelihoods and maps with a recorded reference.
//
// tests/cpp/reference/fits.txt holds, for seeded series of every family, the results of
// the three optimisers (with and without rescaling and prior, censored and not): the
// count, every coordinate of the best search vector and the decoded parameters as hex
// floats, and the console lines; and the censored log-likelihood at many search vectors.
// The speed-ups of the core must reproduce every line of it exactly.
//
// Record it anew (only when a change of results is intended, and say why in the commit):
//   FERRULE_RECORD_REFERENCE=1 build/cpp/test_fit_identity
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "identity_cases.hpp"
#include "optim_test_support.hpp"

namespace ferrule::test {
namespace {

std::string referencePath() { return std::string(FERRULE_TEST_REFERENCE_DIR) + "/fits.txt"; }

std::vector<std::string> readLines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(FitIdentity, EveryRecordedResultIsReproducedBitForBit) {
    const std::vector<std::string> got = identityRecords();
    if (std::getenv("FERRULE_RECORD_REFERENCE") != nullptr) {
        std::ofstream out(referencePath());
        for (const std::string &line : got) {
            out << line << '\n';
        }
        GTEST_SKIP() << "recorded " << got.size() << " lines to " << referencePath();
    }
    const std::vector<std::string> want = readLines(referencePath());
    ASSERT_FALSE(want.empty()) << "no reference at " << referencePath();
    ASSERT_EQ(got.size(), want.size());
    int mismatches = 0;
    for (std::size_t i = 0; i < want.size() && mismatches < 20; ++i) {
        if (got[i] != want[i]) {
            ++mismatches;
            ADD_FAILURE() << "line " << i + 1 << "\n  want: " << want[i] << "\n  got:  " << got[i];
        }
    }
}

} // namespace
} // namespace ferrule::test
