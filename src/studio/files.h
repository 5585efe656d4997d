// The files the studio may touch: model files (*.qm) in the folder of the
// model it was started with and in that folder's subfolders, named by
// paths relative to that folder. Anything else is refused before a file is
// opened: absolute paths, "..", links, other kinds of file, long names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorin::studio {

class TFolder {
public:
  // Root is taken as the real path of an existing folder.
  explicit TFolder(const std::string& Root);
  const std::string& Root() const { return FRoot; }
  bool Valid() const { return !FRoot.empty(); }

  // The full path of Name when it names a model file inside the folder
  // (existing, or for writing one that may not exist yet); otherwise false
  // with the reason in Error.
  bool Resolve(const std::string& Name, bool ForWrite, std::string& Path, std::string& Error) const;
  // Reads a model file of at most Limit bytes. A file that does not exist
  // reads as empty with Exists false.
  bool Read(const std::string& Name, std::size_t Limit, std::string& Text, bool& Exists,
            std::string& Error) const;
  // Writes Text whole (through a temporary file renamed over the old one).
  bool Write(const std::string& Name, const std::string& Text, std::string& Error) const;
  // The model files of the folder and its subfolders (links not followed),
  // relative, sorted; at most Limit of them.
  std::vector<std::string> List(std::size_t Limit) const;

private:
  std::string FRoot;
};

// A short fingerprint of a file's bytes (the version a save must start
// from): 16 hexadecimal digits; "none" for a file that does not exist.
std::string VersionOf(const std::string& Text, bool Exists);

} // namespace quorin::studio
