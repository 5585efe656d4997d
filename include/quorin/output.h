// Files that the command and the library write: written under a temporary
// name beside their place and renamed to it once complete, with every write
// and the close checked, so that a full disk or a failed write is reported
// and never leaves a truncated file that looks whole.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace quorin {

// One output file. Write to Stream(), then Commit(). A file dropped without
// a successful Commit leaves nothing behind (what stood at Path before is
// kept). A Path that exists and is no regular file (a device such as
// /dev/stdout, a pipe) is written in place, as it cannot be replaced.
class TOutputFile {
public:
  explicit TOutputFile(std::string Path);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Whether the file could be opened; Commit then reports why not.
  bool IsOpen() const;
  std::ostream& Stream();
  // Flushes and closes the file and puts it in its place. Answers false
  // with Error as "PATH: cannot be written (reason)" when any write, the
  // close or the rename failed; nothing is left at Path then.
  bool Commit(std::string& Error);

private:
  class TBuffer;
  std::string FPath;
  std::string FTemporary; // empty when written in place
  std::unique_ptr<TBuffer> FBuffer;
  std::unique_ptr<std::ostream> FStream;
  bool FCommitted = false;
  int FOpenErrno = 0;
};

// Writes a whole file through Write as above.
bool WriteOutputFile(const std::string& Path, const std::function<void(std::ostream&)>& Write,
                     std::string& Error);

// Writes Rows (the first one the header) as aligned columns two spaces
// apart, each as wide as its widest cell, with no blanks at the ends of the
// lines. The cells of a column for which RightAligned answers true (numbers)
// are padded on the left, the others on the right.
// A table that would be 100 columns wide or more has its text columns
// (names) narrowed, the widest first, and their cells cut as CutText does.
void WriteColumns(std::ostream& Out, const std::vector<std::vector<std::string>>& Rows,
                  const std::function<bool(std::size_t Column)>& RightAligned);

// The text tables stay narrower than this many columns.
constexpr std::size_t TableWidthLimit = 100;
// Text columns are narrowed to no fewer characters than this.
constexpr std::size_t NarrowestNameColumn = 12;

// Text in at most Width characters: a longer one keeps its start and its
// end around "..." (names in a model often differ only at one of them).
std::string CutText(const std::string& Text, std::size_t Width);

// Narrows the columns for which Cuttable answers true, the widest first and
// to no fewer than NarrowestNameColumn characters, until Width, with Gap
// characters between columns, adds up to less than TableWidthLimit; a table
// that cannot be made to fit so is left as it is.
void NarrowToFit(std::vector<std::size_t>& Width, std::size_t Gap,
                 const std::function<bool(std::size_t Column)>& Cuttable);

// Sends std::cout through a buffer that keeps the reason of a failed write,
// for FlushStandardOutput to give; for programs that print their results.
void WatchStandardOutput();
// Flushes standard output (std::cout and C's stdout) and answers whether
// everything written to it arrived; Error as "standard output: cannot be
// written (reason)" otherwise.
bool FlushStandardOutput(std::string& Error);

} // namespace quorin
