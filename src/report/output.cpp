#include "quorin/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <vector>

namespace quorin {

namespace {
std::string CannotWrite(const std::string& Path, int Errno) {
  return Path + ": cannot be written (" + std::strerror(Errno) + ")";
}
} // namespace

namespace {
// A stream buffer on a file descriptor that keeps the first error of a
// write, so that the message can say why.
class TFdBuffer : public std::streambuf {
public:
  explicit TFdBuffer(int Fd) : FFd(Fd), FData(1 << 16) { setp(FData.data(), FData.data() + FData.size()); }
  ~TFdBuffer() override { Close(); }

  int Errno() const { return FErrno; }
  bool Close() {
    if (FFd < 0) return FErrno == 0;
    Drain();
    if (::close(FFd) != 0 && FErrno == 0) FErrno = errno;
    FFd = -1;
    return FErrno == 0;
  }

protected:
  int_type overflow(int_type C) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(C, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(C);
      pbump(1);
    }
    return traits_type::not_eof(C);
  }
  int sync() override { return Drain() ? 0 : -1; }

private:
  // Writes what the buffer holds; after a failure nothing more is written.
  bool Drain() {
    const char* P = pbase();
    std::size_t Left = static_cast<std::size_t>(pptr() - pbase());
    while (Left > 0 && FErrno == 0) {
      const ssize_t N = ::write(FFd, P, Left);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) {
        FErrno = N < 0 ? errno : EIO;
        break;
      }
      P += N;
      Left -= static_cast<std::size_t>(N);
    }
    setp(FData.data(), FData.data() + FData.size());
    return FErrno == 0;
  }

  int FFd;
  std::vector<char> FData;
  int FErrno = 0;
};

// Standard output through a TFdBuffer, once WatchStandardOutput ran.
TFdBuffer* StandardOutput = nullptr;
} // namespace

class TOutputFile::TBuffer : public TFdBuffer {
public:
  using TFdBuffer::TFdBuffer;
};

TOutputFile::TOutputFile(std::string Path) : FPath(std::move(Path)) {
  struct stat Info {};
  const bool InPlace = ::stat(FPath.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode);
  int Fd = -1;
  int Errno = 0;
  if (InPlace) {
    Fd = ::open(FPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  } else {
    // Beside the file, so that the rename stays on one file system; the
    // process number and a count keep writers apart.
    static std::atomic<unsigned> Count{0};
    FTemporary = FPath + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(Count++);
    Fd = ::open(FTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (Fd < 0) {
    Errno = errno;
    FTemporary.clear();
  }
  FBuffer = std::make_unique<TBuffer>(Fd);
  FStream = std::make_unique<std::ostream>(FBuffer.get());
  if (Fd < 0) {
    FOpenErrno = Errno;
    FStream->setstate(std::ios::badbit);
  }
}

TOutputFile::~TOutputFile() {
  FBuffer->Close();
  if (!FCommitted && !FTemporary.empty()) ::unlink(FTemporary.c_str());
}

bool TOutputFile::IsOpen() const {
  return FOpenErrno == 0;
}

std::ostream& TOutputFile::Stream() {
  return *FStream;
}

bool TOutputFile::Commit(std::string& Error) {
  if (FOpenErrno != 0) {
    Error = CannotWrite(FPath, FOpenErrno);
    return false;
  }
  FStream->flush();
  const bool Closed = FBuffer->Close();
  if (!Closed || !*FStream) {
    Error = CannotWrite(FPath, FBuffer->Errno() ? FBuffer->Errno() : EIO);
    return false;
  }
  if (!FTemporary.empty() && std::rename(FTemporary.c_str(), FPath.c_str()) != 0) {
    Error = CannotWrite(FPath, errno);
    return false;
  }
  FCommitted = true;
  return true;
}

bool WriteOutputFile(const std::string& Path, const std::function<void(std::ostream&)>& Write,
                     std::string& Error) {
  TOutputFile File(Path);
  if (File.IsOpen()) Write(File.Stream());
  return File.Commit(Error);
}

void WatchStandardOutput() {
  if (StandardOutput) return;
  std::fflush(stdout);
  // Never destroyed: std::cout may be written until the very end.
  StandardOutput = new TFdBuffer(STDOUT_FILENO);
  std::cout.rdbuf(StandardOutput);
}

bool FlushStandardOutput(std::string& Error) {
  std::cout.flush();
  errno = 0;
  const bool Flushed = std::fflush(stdout) == 0;
  int Errno = Flushed ? 0 : errno;
  if (StandardOutput && StandardOutput->Errno()) Errno = StandardOutput->Errno();
  if (Flushed && std::cout && !std::ferror(stdout) && Errno == 0) return true;
  Error = CannotWrite("standard output", Errno ? Errno : EIO);
  return false;
}

std::string CutText(const std::string& Text, std::size_t Width) {
  if (Text.size() <= Width) return Text;
  if (Width < 5) return Text.substr(0, Width);
  const std::size_t Kept = Width - 3, Head = (Kept + 1) / 2;
  std::string Cut = Text.substr(0, Head);
  Cut.append("...").append(Text, Text.size() - (Kept - Head));
  return Cut;
}

void NarrowToFit(std::vector<std::size_t>& Width, std::size_t Gap,
                 const std::function<bool(std::size_t Column)>& Cuttable) {
  if (Width.empty()) return;
  std::size_t Total = Gap * (Width.size() - 1);
  std::size_t Spare = 0; // what narrowing can take off at most
  for (std::size_t c = 0; c < Width.size(); ++c) {
    Total += Width[c];
    if (Cuttable(c) && Width[c] > NarrowestNameColumn) Spare += Width[c] - NarrowestNameColumn;
  }
  // Names are cut only where that makes the table fit: a table of wide
  // numbers keeps them whole.
  if (Total < TableWidthLimit || Total - Spare >= TableWidthLimit) return;
  while (Total >= TableWidthLimit) {
    std::size_t Widest = Width.size();
    for (std::size_t c = 0; c < Width.size(); ++c)
      if (Cuttable(c) && Width[c] > NarrowestNameColumn &&
          (Widest == Width.size() || Width[c] > Width[Widest]))
        Widest = c;
    if (Widest == Width.size()) return;
    --Width[Widest];
    --Total;
  }
}

void WriteColumns(std::ostream& Out, const std::vector<std::vector<std::string>>& Rows,
                  const std::function<bool(std::size_t Column)>& RightAligned) {
  std::vector<std::size_t> Width;
  for (const auto& Row : Rows) {
    if (Width.size() < Row.size()) Width.resize(Row.size(), 0);
    for (std::size_t c = 0; c < Row.size(); ++c)
      Width[c] = std::max(Width[c], Row[c].size());
  }
  NarrowToFit(Width, 2, [&RightAligned](std::size_t Column) { return !RightAligned(Column); });
  for (const auto& Row : Rows) {
    std::string Line;
    for (std::size_t c = 0; c < Row.size(); ++c) {
      // Appended piece by piece: g++ 12 under LTO warns falsely about the
      // temporaries of `"  " + Pad + Cell`.
      const std::string Cell = CutText(Row[c], Width[c]);
      const std::size_t Pad = Width[c] - Cell.size();
      const bool Right = RightAligned(c);
      if (c) Line += "  ";
      if (Right) Line.append(Pad, ' ');
      Line += Cell;
      if (!Right) Line.append(Pad, ' ');
    }
    while (!Line.empty() && Line.back() == ' ')
      Line.pop_back();
    Out << Line << '\n';
  }
}

} // namespace quorin
