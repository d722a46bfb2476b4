// The values of the points a search has already evaluated, found again by their bits:
// a simplex that has collapsed in some coordinate, or a shrink, can revisit a point, and
// the objective (a function of the point alone) need not be evaluated there twice.
#pragma once

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "optim/objective.hpp"

namespace ferrule {

class PointMemo {
public:
    explicit PointMemo(ObjectiveRef objective) : objective_(objective) {}

    double operator()(const Vector &x) {
        key_.resize(x.size());
        std::memcpy(key_.data(), x.data(), x.size() * sizeof(double));
        const auto found = values_.find(key_);
        if (found != values_.end()) {
            return found->second;
        }
        const double value = objective_(x);
        values_.emplace(key_, value);
        return value;
    }

    // Evaluations made, one per distinct point.
    std::int64_t evaluations() const { return static_cast<std::int64_t>(values_.size()); }

private:
    using Key = std::vector<std::uint64_t>;
    struct KeyHash {
        std::size_t operator()(const Key &key) const {
            std::uint64_t h = 14695981039346656037ull; // FNV-1a over the words
            for (const std::uint64_t word : key) {
                h = (h ^ word) * 1099511628211ull;
            }
            return static_cast<std::size_t>(h ^ (h >> 32));
        }
    };

    ObjectiveRef objective_;
    std::unordered_map<Key, double, KeyHash> values_;
    Key key_;
};

} // namespace ferrule
