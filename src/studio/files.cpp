#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace quorin::studio {

namespace {

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

std::vector<std::string> Parts(const std::string& Name) {
  std::vector<std::string> P;
  std::size_t At = 0;
  for (;;) {
    const std::size_t Slash = Name.find('/', At);
    P.push_back(Name.substr(At, Slash == std::string::npos ? std::string::npos : Slash - At));
    if (Slash == std::string::npos) return P;
    At = Slash + 1;
  }
}

} // namespace

TFolder::TFolder(const std::string& Root) {
  char Buffer[PATH_MAX];
  struct stat St;
  if (::realpath(Root.c_str(), Buffer) && ::stat(Buffer, &St) == 0 && S_ISDIR(St.st_mode))
    FRoot = Buffer;
}

bool TFolder::Resolve(const std::string& Name, bool ForWrite, std::string& Path,
                      std::string& Error) const {
  const auto Refuse = [&Error](const std::string& Why) {
    Error = Why;
    return false;
  };
  if (!Valid()) return Refuse("the studio has no folder");
  if (Name.empty()) return Refuse("no file name given");
  if (Name.size() > 400) return Refuse("the file name is longer than 400 characters");
  for (char C : Name)
    if (static_cast<unsigned char>(C) < 0x20 || C == '\\' || C == ':')
      return Refuse("the file name holds a control character, a backslash or a colon");
  if (Name[0] == '/') return Refuse("an absolute path: name files relative to the model's folder");
  if (!EndsWith(Name, ".qm")) return Refuse("only model files (*.qm) are opened and saved");
  const std::vector<std::string> P = Parts(Name);
  std::string At = FRoot;
  for (std::size_t i = 0; i < P.size(); ++i) {
    const std::string& Part = P[i];
    if (Part.empty() || Part == "." || Part == "..")
      return Refuse("'" + Name + "' leaves the model's folder or has an empty part");
    if (Part[0] == '.') return Refuse("hidden files and folders are left alone");
    At += "/" + Part;
    struct stat St;
    if (::lstat(At.c_str(), &St) != 0) {
      if (errno != ENOENT) return Refuse(Name + ": " + std::strerror(errno));
      if (i + 1 < P.size()) return Refuse("no folder " + Part + " in the model's folder");
      if (!ForWrite) return Refuse(Name + ": no such file");
      break;
    }
    if (S_ISLNK(St.st_mode)) return Refuse(Name + ": links are not followed");
    if (i + 1 < P.size() ? !S_ISDIR(St.st_mode) : !S_ISREG(St.st_mode))
      return Refuse(Name + ": not a " + (i + 1 < P.size() ? "folder" : "file"));
  }
  Path = At;
  return true;
}

bool TFolder::Read(const std::string& Name, std::size_t Limit, std::string& Text, bool& Exists,
                   std::string& Error) const {
  std::string Path;
  Exists = false;
  Text.clear();
  if (!Resolve(Name, true, Path, Error)) return false;
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) {
    if (errno == ENOENT) return true;
    Error = Name + ": " + std::strerror(errno);
    return false;
  }
  Exists = true;
  char Buffer[65536];
  for (;;) {
    const ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      Error = Name + ": " + std::strerror(errno);
      ::close(Fd);
      return false;
    }
    if (N == 0) break;
    Text.append(Buffer, std::size_t(N));
    if (Text.size() > Limit) {
      ::close(Fd);
      Error = Name + ": larger than " + std::to_string(Limit) + " bytes, which the studio opens";
      Text.clear();
      return false;
    }
  }
  ::close(Fd);
  return true;
}

bool TFolder::Write(const std::string& Name, const std::string& Text, std::string& Error) const {
  std::string Path;
  if (!Resolve(Name, true, Path, Error)) return false;
  const std::size_t Slash = Path.rfind('/');
  std::string Temp = Path.substr(0, Slash + 1) + ".studio-save-XXXXXX";
  const int Fd = ::mkstemp(Temp.data());
  if (Fd < 0) {
    Error = Name + ": cannot be written: " + std::strerror(errno);
    return false;
  }
  std::size_t Done = 0;
  while (Done < Text.size()) {
    const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Done += std::size_t(N);
  }
  // The new file reads like one made by hand: mode 0644 less the umask.
  const mode_t Mask = ::umask(0);
  ::umask(Mask);
  ::fchmod(Fd, 0644 & ~Mask);
  const bool Ok = Done == Text.size() && ::fsync(Fd) == 0;
  const int Errno = errno;
  ::close(Fd);
  if (!Ok || ::rename(Temp.c_str(), Path.c_str()) != 0) {
    Error = Name + ": cannot be written: " + std::strerror(Ok ? errno : Errno);
    ::unlink(Temp.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> TFolder::List(std::size_t Limit) const {
  std::vector<std::string> Found;
  std::function<void(const std::string&, int)> Walk = [&](const std::string& Rel, int Depth) {
    if (Depth > 8) return;
    const std::string Dir = Rel.empty() ? FRoot : FRoot + "/" + Rel;
    DIR* D = ::opendir(Dir.c_str());
    if (!D) return;
    while (const dirent* E = ::readdir(D)) {
      if (Found.size() >= Limit) break;
      const std::string N = E->d_name;
      if (N.empty() || N[0] == '.') continue;
      const std::string Child = Rel.empty() ? N : Rel + "/" + N;
      struct stat St;
      if (::lstat((FRoot + "/" + Child).c_str(), &St) != 0) continue;
      if (S_ISDIR(St.st_mode)) Walk(Child, Depth + 1);
      else if (S_ISREG(St.st_mode) && EndsWith(N, ".qm")) Found.push_back(Child);
    }
    ::closedir(D);
  };
  if (Valid()) Walk("", 0);
  std::sort(Found.begin(), Found.end());
  return Found;
}

std::string VersionOf(const std::string& Text, bool Exists) {
  if (!Exists) return "none";
  uint64_t H = 1469598103934665603ull; // FNV-1a
  for (unsigned char C : Text) {
    H ^= C;
    H *= 1099511628211ull;
  }
  char Hex[17];
  std::snprintf(Hex, sizeof Hex, "%016llx", static_cast<unsigned long long>(H));
  return Hex;
}

} // namespace quorin::studio
