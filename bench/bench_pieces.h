// The EPN files the benchmarks read: graded pieces of a few hundred points.
#pragma once

#include <string>
#include <vector>

#include "support/epn_builder.h"

namespace teilimp::bench {

// A graded piece named `name`: a contour of `points` points, every tenth a
// rule point, eight sizes, a grain line.
inline std::string piece_text(const std::string& name, int points) {
    testing::EpnFile f;
    f.name = name;
    std::vector<int64_t> rules;
    for (int i = 0; i < points; ++i) {
        const int64_t x = (i * 37) % 1000, y = (i * 91) % 700;
        std::optional<int64_t> rule;
        if (i % 10 == 0) {
            rule = i + 1;
            rules.push_back(i + 1);
        }
        f.points.push_back(testing::perim(i + 1, x, y, rule, i % 25 == 0 ? "N1" : "", 450));
    }
    f.points.push_back(testing::inner(points + 1, 100, 100, 'G', 'N'));
    f.points.push_back(testing::inner(points + 2, 100, 400, 'G', 'O'));
    f.sizes = {"34", "36", "38", "40", "42", "44", "46", "48"};
    f.baseSize = "40";
    for (size_t s = 0; s < f.sizes.size(); ++s) {
        std::vector<testing::EpnGrade> grades;
        for (int64_t r : rules) grades.push_back({r, static_cast<int64_t>(s) * 5, -static_cast<int64_t>(s) * 3});
        f.grades.push_back(grades);
    }
    return testing::epn_text(f);
}

}  // namespace teilimp::bench
