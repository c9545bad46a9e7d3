#include "Table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace bench {

void printHeader() {
    std::printf("| Figure | Measured (median) | Reference (median) | Ratio median (p10-p90) | Goal | Met | Notes |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
}

void printRow(const Row& r) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", r.figure.c_str(), r.measured.c_str(),
                r.reference.c_str(), format(r.ratio, 3).c_str(), r.goal.c_str(),
                r.goal == "-" ? "-" : r.met ? "yes" : "**no**", r.note.c_str());
    std::fflush(stdout);
}

void printFailure(const std::string& name, const std::string& why) {
    std::printf("| %s | not measured | | | | | %s |\n", name.c_str(), why.c_str());
    std::fflush(stdout);
}

int runAlone(int argc, char** argv, const char* program, const char* figure,
             std::vector<Row> (*measure)(const Settings&)) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) settings.quick = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) settings.pollSeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--quick] [--seconds N]\n", program);
            return 2;
        }
    }
    printHeader();
    try {
        for (const Row& r : measure(settings)) printRow(r);
    } catch (const std::exception& e) {
        printFailure(figure, e.what());
        return 1;
    }
    return 0;
}

}  // namespace bench
