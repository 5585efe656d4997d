// The text form of a model file: a tree of objects with their property
// values and handler bindings, parsed from text and written back to text.
// Only the shape is checked here; what the names mean is the loader's part.
#pragma once

#include <string>
#include <vector>

#include "quorin/modelfile.h"

namespace quorin::modelfile {

// A property value as written: a number, a bare word (true, false) or a
// quoted string (without its quotes and escapes).
struct TValue {
  enum class TKind { Number, Word, String } Kind = TKind::Number;
  std::string Text;
};

struct TProperty {
  std::string Key;
  int Line = 0;
  TValue Value;
};

struct TEvent {
  std::string Key;
  int Line = 0;
  std::vector<THandlerCall> Calls;
};

struct TNode {
  std::string Name;
  std::string Class;
  int Line = 0;
  std::vector<TProperty> Properties;
  std::vector<TEvent> Events;
  std::vector<TNode> Children;
};

// A schedule section: "schedule Name", its settings, "end".
struct TScheduleNode {
  std::string Name;
  int Line = 0;
  std::vector<TProperty> Properties;
};

struct TDocument {
  bool HasRun = false;
  std::vector<TProperty> Run;
  std::vector<TScheduleNode> Schedules;
  std::vector<TNode> Objects;
  // The first 'end' indented unlike the object it closed, and that object:
  // where an object turns up at the wrong level, an 'end' too many there is
  // the likely cause. 0 when every 'end' lines up.
  int SuspectEnd = 0;
  std::string SuspectName;
};

// Objects deeper than this are refused, so that a hostile file cannot
// exhaust the stack of the recursive steps that follow.
inline constexpr int MaxDepth = 32;

// Parses Text. On a syntax error answers false with Error as
// "file:line: text" and leaves Doc unspecified.
bool Parse(const std::string& Text, const std::string& FileName, TDocument& Doc,
           std::string& Error);
// Text with every word longer than 64 characters cut short, so that a
// message never echoes a huge token whole.
std::string ClipWords(const std::string& Text);
// The canonical text of Doc, which Parse reads back to the same document.
std::string Write(const TDocument& Doc);
// Parses one binding's calls as written after "OnX = " (one line).
bool ParseCalls(const std::string& Text, std::vector<THandlerCall>& Calls, std::string& Error);
// One binding's calls as they are written after "OnX = ".
std::string WriteCalls(const std::vector<THandlerCall>& Calls);

} // namespace quorin::modelfile
