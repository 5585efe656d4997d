// A model file's text as the studio edits it: line by line, so that an edit
// changes the lines it must and nothing else. Comments, blank lines, the
// order of objects and the way values are written stay as the author wrote
// them wherever the editor did not touch them, and a text that was not
// edited is saved byte for byte as it was read.
#pragma once

#include <string>
#include <vector>

namespace quorin::studio {

// One "Key = value" line inside an object or the run section, as written.
struct TTextEntry {
  std::string Key;
  std::string Value; // the text after '=', trimmed, without a comment
  int Line = 0;      // 1-based
};

// An object of the file: "object Name: Class" up to its "end".
struct TTextObject {
  std::string Name;
  std::string Class;
  std::string Parent; // the owning object's name; empty at top level
  int Begin = 0;      // line of "object", 1-based
  int End = 0;        // line of its "end" (Begin for "object X: T end")
  int Indent = 0;     // spaces before "object"
  std::vector<TTextEntry> Entries;
};

// What the scanner sees of a text. It reads the shape only, leniently: a
// text the loader refuses still shows its objects, so that the editor can
// show them with the loader's messages.
struct TTextShape {
  std::vector<TTextObject> Objects; // in file order
  bool HasRun = false;
  int RunBegin = 0, RunEnd = 0;
  std::vector<TTextEntry> Run;
  // The schedule sections, as objects of class "schedule" at top level.
  std::vector<TTextObject> Schedules;
  const TTextObject* Find(const std::string& Name) const;
  const TTextObject* FindSchedule(const std::string& Name) const;
};

TTextShape ScanText(const std::string& Text);

// The edits. Each answers false with Error and leaves Text alone when the
// edit cannot be made; the caller loads the result to check what it means.
//
// Sets Key of object Name (or of the run section when Name is empty) to
// Value as written after "Key = "; an empty Value removes the line. An
// existing line keeps its indentation and its comment.
bool SetEntry(std::string& Text, const std::string& Name, const std::string& Key,
              const std::string& Value, std::string& Error);
// The same for a setting of schedule section Name.
bool SetScheduleEntry(std::string& Text, const std::string& Name, const std::string& Key,
                      const std::string& Value, std::string& Error);
// Adds "schedule Name" with Steps before the first object (after the run
// section).
bool AddSchedule(std::string& Text, const std::string& Name, const std::string& Steps,
                 std::string& Error);
// Adds "object Name: Class" with Left and Top at the end of the first form
// (the first top-level object that holds others, else the first top-level
// TComponent); a text without one gets a form with a model first.
bool AddObject(std::string& Text, const std::string& Class, const std::string& Name, int Left,
               int Top, std::string& Error);
// Removes object Name with everything inside it.
bool RemoveObject(std::string& Text, const std::string& Name, std::string& Error);
// Renames object From to To, and every mention of From as a word in the
// handler lines (keys starting with "On") of the whole file.
bool RenameObject(std::string& Text, const std::string& From, const std::string& To,
                  std::string& Error);
// Whether Name is a name a model file takes: letters, digits and '_', not
// starting with a digit.
bool IsName(const std::string& Name);
// The text of a new model file: a run section and a form with its model.
std::string NewModelText();

} // namespace quorin::studio
