// The results table and its statistics (see results.h).

#include "results.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace bench {

std::vector<Row> rows;

void AddRow(Row row) {
    std::printf("%s: %s | %s | %s | %s | %s\n", row.what.c_str(), row.ours.c_str(), row.reference.c_str(),
                row.ratio.c_str(), row.target.c_str(), row.verdict.c_str());
    std::fflush(stdout);
    rows.push_back(std::move(row));
}

void Failed(const std::string& what, const std::string& why) {
    AddRow({what, why, "", "", "", "not measured"});
}

std::string Met(bool met) {
    return met ? "met" : "NOT met";
}

std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

std::string Ratio(double ours, double reference) {
    return reference > 0 ? Format("%.2fx", ours / reference) : std::string("n/a");
}

void WriteResultsTable(const std::string& path) {
    std::ofstream out(path);
    out << "| benchmark | Lumivane | reference | ratio | target | |\n|---|---|---|---|---|---|\n";
    for (const Row& row : rows) {
        out << "| " << row.what << " | " << row.ours << " | " << row.reference << " | " << row.ratio << " | "
            << row.target << " | " << row.verdict << " |\n";
    }
}

}  // namespace bench
