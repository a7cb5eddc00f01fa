#pragma once

// Seeds for property tests: a fixed list that every run covers, then as many
// more as asked. `--count N` and `--seed S` are taken out of the arguments
// before QtTest sees them: `--seed S` replays one schedule, `--count N` runs N.

#include <QByteArray>
#include <QTest>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace modburn {

struct Schedules {
    std::vector<std::uint64_t> seeds;

    // Strips our options from argc/argv.
    static Schedules FromArguments(int& argc, char** argv, int defaultCount)
    {
        unsigned long long count = static_cast<unsigned long long>(defaultCount);
        bool one = false;
        unsigned long long only = 0;
        int kept = 1;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if ((arg == "--count" || arg == "--seed") && i + 1 < argc) {
                const unsigned long long value = std::strtoull(argv[++i], nullptr, 0);
                if (arg == "--count") {
                    count = value;
                } else {
                    one = true;
                    only = value;
                }
                continue;
            }
            argv[kept++] = argv[i];
        }
        argc = kept;
        Schedules s;
        if (one) {
            s.seeds.push_back(only);
            return s;
        }
        // Seeds that once found faults stay first in the list.
        for (std::uint64_t seed : {2854851131448462664ULL, 14970076879386038193ULL, 1ULL, 2ULL, 42ULL})
            s.seeds.push_back(seed);
        for (std::uint64_t i = 17; s.seeds.size() < count; ++i)
            s.seeds.push_back(0x9E3779B97F4A7C15ULL * i);
        return s;
    }
};

}  // namespace modburn
