// Reading columns of numbers from CSV files, shared by schedules, empirical
// distributions and the fitting of distributions.
#pragma once

#include <string>
#include <vector>

#include "quorin/inputs.h"

namespace quorin::detail {

// The columns Indices (from 0) of the file, line by line; the header line (if
// the first line that is neither blank nor a comment has a field that is
// not a number) gives the names. Every other line must hold a number in
// each of those columns. Answers false with Error as "file:line: reason".
bool ParseCsvColumns(const std::string& Text, const std::string& Path,
                     const std::vector<size_t>& Indices, std::vector<TCsvColumn>& Columns,
                     std::string& Error);
bool ReadCsvColumns(const std::string& Path, const std::vector<size_t>& Indices,
                    std::vector<TCsvColumn>& Columns, std::string& Error);
// The whole file as text; false with Error when it cannot be read.
bool ReadText(const std::string& Path, std::string& Text, std::string& Error);

} // namespace quorin::detail
