// Columns of numbers from CSV text, with the line of every value kept so
// that bad data is refused at its line.
#include "csv.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quorin::detail {

namespace {

std::string Trim(const std::string& S) {
  size_t A = 0, B = S.size();
  while (A < B && (S[A] == ' ' || S[A] == '\t' || S[A] == '"')) ++A;
  while (B > A && (S[B - 1] == ' ' || S[B - 1] == '\t' || S[B - 1] == '\r' || S[B - 1] == '"'))
    --B;
  return S.substr(A, B - A);
}

std::vector<std::string> Fields(const std::string& Line) {
  std::vector<std::string> Out;
  std::stringstream In(Line);
  std::string F;
  while (std::getline(In, F, ','))
    Out.push_back(Trim(F));
  if (!Line.empty() && Line.back() == ',') Out.push_back("");
  return Out;
}

bool Number(const std::string& Field, double& V) {
  const char* First = Field.data();
  const char* Last = First + Field.size();
  if (First != Last && *First == '+') ++First;
  const auto [End, Ec] = std::from_chars(First, Last, V);
  return First != Last && Ec == std::errc() && End == Last && std::isfinite(V);
}

bool Blank(const std::string& Line) {
  const std::string T = Trim(Line);
  return T.empty() || T[0] == '#';
}

} // namespace

bool ReadText(const std::string& Path, std::string& Text, std::string& Error) {
  // A folder opens as a file on some systems and reads as nothing.
  std::error_code Ec;
  if (std::filesystem::is_directory(Path, Ec)) {
    Error = Path + ": cannot be read (a folder, not a file)";
    return false;
  }
  errno = 0;
  std::ifstream In(Path, std::ios::binary);
  const int Why = errno;
  std::ostringstream Out;
  if (In) Out << In.rdbuf();
  if (!In || In.bad()) {
    Error = Path + ": cannot be read";
    if (!std::filesystem::exists(Path, Ec))
      Error += " (no such file)";
    else if (Why == EACCES)
      Error += " (no permission)";
    else if (Why != 0)
      Error += std::string(" (") + std::strerror(Why) + ")";
    return false;
  }
  Text = Out.str();
  return true;
}

bool ParseCsvColumns(const std::string& Text, const std::string& Path,
                     const std::vector<size_t>& Indices, std::vector<TCsvColumn>& Columns,
                     std::string& Error) {
  const size_t Count = Indices.size();
  size_t Need = 0; // fields a line must have
  for (size_t I : Indices)
    Need = std::max(Need, I + 1);
  Columns.assign(Count, TCsvColumn{});
  std::stringstream In(Text);
  std::string Line;
  int32_t Number_ = 0;
  bool First = true;
  while (std::getline(In, Line)) {
    ++Number_;
    if (Blank(Line)) continue;
    const std::vector<std::string> F = Fields(Line);
    const std::string At = Path + ":" + std::to_string(Number_) + ": ";
    if (First) {
      First = false;
      bool Header = false;
      double V = 0;
      for (size_t c = 0; c < Count; ++c)
        Header = Header || (Indices[c] < F.size() && !Number(F[Indices[c]], V));
      if (Header) {
        if (F.size() < Need) {
          Error = At + "the header names " + std::to_string(F.size()) + " column" +
                  (F.size() == 1 ? "" : "s") + ", " + std::to_string(Need) + " are needed";
          return false;
        }
        for (size_t c = 0; c < Count; ++c)
          Columns[c].Name = F[Indices[c]];
        continue;
      }
    }
    if (F.size() < Need) {
      Error = At + "expected " + std::to_string(Need) + " field" + (Need == 1 ? "" : "s") +
              ", found " + std::to_string(F.size());
      return false;
    }
    for (size_t c = 0; c < Count; ++c) {
      double V = 0;
      const std::string& Field = F[Indices[c]];
      if (!Number(Field, V)) {
        Error = At +
                (Field.empty() ? std::string("an empty field") : "'" + Field + "' is not a number") +
                (Need > 1 ? " (column " + std::to_string(Indices[c] + 1) + ")" : "");
        return false;
      }
      Columns[c].Values.push_back(V);
      Columns[c].Lines.push_back(Number_);
    }
  }
  return true;
}

bool ReadCsvColumns(const std::string& Path, const std::vector<size_t>& Indices,
                    std::vector<TCsvColumn>& Columns, std::string& Error) {
  std::string Text;
  return ReadText(Path, Text, Error) && ParseCsvColumns(Text, Path, Indices, Columns, Error);
}

} // namespace quorin::detail

namespace quorin {

std::optional<TCsvColumn> ParseCsvColumn(const std::string& Text, const std::string& Path,
                                         const std::string& Column, std::string& Error) {
  size_t Index = 0;
  if (!Column.empty()) {
    // Find the column by the header's names: the first line that is not
    // blank or a comment.
    std::stringstream In(Text);
    std::string Line;
    bool Found = false;
    while (std::getline(In, Line)) {
      if (detail::Blank(Line)) continue;
      const auto F = detail::Fields(Line);
      for (size_t c = 0; c < F.size() && !Found; ++c)
        if (F[c] == Column) Index = c, Found = true;
      if (!Found) {
        std::string Names;
        for (const auto& N : F)
          Names += (Names.empty() ? "" : ", ") + N;
        Error = Path + ": no column named '" + Column + "' (the header has: " + Names + ")";
        return std::nullopt;
      }
      break;
    }
    if (!Found) {
      Error = Path + ": no column named '" + Column + "' (the file has no header)";
      return std::nullopt;
    }
  }
  std::vector<TCsvColumn> Columns;
  if (!detail::ParseCsvColumns(Text, Path, {Index}, Columns, Error)) return std::nullopt;
  return Columns[0];
}

std::optional<TCsvColumn> ReadCsvColumn(const std::string& Path, const std::string& Column,
                                        std::string& Error) {
  std::string Text;
  if (!detail::ReadText(Path, Text, Error)) return std::nullopt;
  return ParseCsvColumn(Text, Path, Column, Error);
}

} // namespace quorin
