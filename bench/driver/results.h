#pragma once
// The results table: one row per figure, printed as it is measured and
// written as Markdown at the end; and the few statistics the rows use.

#include <string>
#include <vector>

namespace bench {

// One line of the results table.
struct Row {
    std::string what;
    std::string ours;
    std::string reference;
    std::string ratio;
    std::string target;
    std::string verdict;
};

// Every row so far, in the order measured (benchmark 8 reads benchmark 1's).
extern std::vector<Row> rows;

void AddRow(Row row);
// A row for a benchmark that could not measure, saying why.
void Failed(const std::string& what, const std::string& why);
void WriteResultsTable(const std::string& path);

std::string Met(bool met);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
double Percentile(std::vector<double> values, double fraction);
std::string Ratio(double ours, double reference);

}  // namespace bench
