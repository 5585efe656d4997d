#include "syntax.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace quorin::modelfile {

namespace {

struct TToken {
  enum class TKind { Word, Number, String, Punct, End } Kind = TKind::End;
  std::string Text; // for a string: its content, escapes resolved
};

bool IsWordStart(char C) {
  return std::isalpha(static_cast<unsigned char>(C)) || C == '_';
}
bool IsWordChar(char C) {
  return std::isalnum(static_cast<unsigned char>(C)) || C == '_';
}
bool IsDigit(char C) {
  return C >= '0' && C <= '9';
}

// A finite number in the syntax that from_chars reads in full.
bool IsNumber(const std::string& S) {
  const char* First = S.data();
  const char* Last = First + S.size();
  if (First != Last && *First == '+') ++First; // from_chars takes no '+'
  double V = 0.0;
  const auto [End, Ec] = std::from_chars(First, Last, V);
  return Ec == std::errc() && End == Last && std::isfinite(V);
}

// Splits one line (without its line break) into tokens; a '#' outside a
// string starts a comment.
bool Tokenize(const std::string& Line, std::vector<TToken>& Tokens, std::string& Error) {
  std::size_t i = 0;
  while (i < Line.size()) {
    const char C = Line[i];
    if (C == ' ' || C == '\t') {
      ++i;
    } else if (C == '#') {
      break;
    } else if (IsWordStart(C)) {
      std::size_t j = i;
      while (j < Line.size() && IsWordChar(Line[j]))
        ++j;
      Tokens.push_back({TToken::TKind::Word, Line.substr(i, j - i)});
      i = j;
    } else if (IsDigit(C) || ((C == '-' || C == '+' || C == '.') && i + 1 < Line.size() &&
                              (IsDigit(Line[i + 1]) || Line[i + 1] == '.'))) {
      std::size_t j = i + 1;
      while (j < Line.size() &&
             (IsWordChar(Line[j]) || Line[j] == '.' ||
              ((Line[j] == '-' || Line[j] == '+') && (Line[j - 1] == 'e' || Line[j - 1] == 'E'))))
        ++j;
      std::string Text = Line.substr(i, j - i);
      if (!IsNumber(Text)) {
        Error = "'" + Text + "' is not a number";
        return false;
      }
      Tokens.push_back({TToken::TKind::Number, Text});
      i = j;
    } else if (C == '"') {
      std::string Text;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= Line.size()) {
          Error = "a string is not closed on its line";
          return false;
        }
        if (Line[j] == '"') break;
        if (Line[j] == '\\') {
          if (j + 1 >= Line.size()) continue; // reported as not closed
          const char E = Line[++j];
          if (E == 'n')
            Text += '\n';
          else if (E == 't')
            Text += '\t';
          else if (E == '"' || E == '\\')
            Text += E;
          else {
            Error = std::string("unknown escape '\\") + E + "' in a string";
            return false;
          }
        } else if (static_cast<unsigned char>(Line[j]) < 0x20) {
          Error = "a control character in a string";
          return false;
        } else {
          Text += Line[j];
        }
      }
      Tokens.push_back({TToken::TKind::String, Text});
      i = j + 1;
    } else if (C == '=' || C == ':' || C == '(' || C == ')' || C == ',' || C == '.' || C == ';') {
      Tokens.push_back({TToken::TKind::Punct, std::string(1, C)});
      ++i;
    } else {
      const unsigned char U = static_cast<unsigned char>(C);
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "0x%02X", U);
      Error = U >= 0x21 && U < 0x7F ? std::string("unexpected character '") + C + "'"
                                    : std::string("unexpected character ") + Hex;
      return false;
    }
  }
  return true;
}

// Reads the tokens of one line in order.
class TCursor {
public:
  explicit TCursor(const std::vector<TToken>& Tokens) : FTokens(Tokens) {}
  const TToken& Peek() const { return FPos < FTokens.size() ? FTokens[FPos] : FEnd; }
  TToken Take() { return FPos < FTokens.size() ? FTokens[FPos++] : FEnd; }
  bool AtEnd() const { return FPos >= FTokens.size(); }
  bool TakePunct(char C) {
    if (Peek().Kind == TToken::TKind::Punct && Peek().Text[0] == C) {
      ++FPos;
      return true;
    }
    return false;
  }

private:
  const std::vector<TToken>& FTokens;
  std::size_t FPos = 0;
  TToken FEnd;
};

std::string Describe(const TToken& T) {
  switch (T.Kind) {
  case TToken::TKind::End:
    return "the end of the line";
  case TToken::TKind::String:
    return "a string";
  default:
    return "'" + T.Text + "'";
  }
}

std::string Quote(const std::string& S);

bool ParseArg(TCursor& In, THandlerArg& Arg, std::string& Error) {
  const TToken T = In.Take();
  if (T.Kind == TToken::TKind::Number) {
    Arg.Text = T.Text;
    Arg.IsNumber = true;
    return true;
  }
  if (T.Kind != TToken::TKind::Word) {
    Error = "expected a number or a name, found " + Describe(T);
    return false;
  }
  Arg.Text = T.Text;
  if (!In.TakePunct('.')) return true;
  const TToken M = In.Take();
  if (M.Kind != TToken::TKind::Word) {
    Error = "expected a distribution after '" + Arg.Text + ".', found " + Describe(M);
    return false;
  }
  Arg.Method = M.Text;
  if (!In.TakePunct('(')) {
    Error = "expected '(' after '" + Arg.Text + "." + Arg.Method + "'";
    return false;
  }
  if (In.TakePunct(')')) return true;
  do {
    const TToken P = In.Take();
    // A string (a file name, as in Empirical("waits.csv")) is kept with its
    // quotes, so that it is written back as it was read.
    if (P.Kind == TToken::TKind::String) {
      Arg.Params.push_back(Quote(P.Text));
      continue;
    }
    if (P.Kind != TToken::TKind::Number) {
      Error = "expected a number as parameter of " + Arg.Method + ", found " + Describe(P);
      return false;
    }
    Arg.Params.push_back(P.Text);
  } while (In.TakePunct(','));
  if (!In.TakePunct(')')) {
    Error =
        "expected ',' or ')' in the parameters of " + Arg.Method + ", found " + Describe(In.Peek());
    return false;
  }
  return true;
}

bool ParseCalls(TCursor& In, std::vector<THandlerCall>& Calls, std::string& Error) {
  do {
    const TToken T = In.Take();
    if (T.Kind != TToken::TKind::Word) {
      Error = "expected a handler name, found " + Describe(T);
      return false;
    }
    THandlerCall Call;
    Call.Name = T.Text;
    if (In.TakePunct('(')) {
      Call.Parens = true;
      if (!In.TakePunct(')')) {
        do {
          THandlerArg Arg;
          if (!ParseArg(In, Arg, Error)) return false;
          Call.Args.push_back(std::move(Arg));
        } while (In.TakePunct(','));
        if (!In.TakePunct(')')) {
          Error = "expected ',' or ')' in the arguments of " + Call.Name + ", found " +
                  Describe(In.Peek());
          return false;
        }
      }
    }
    Calls.push_back(std::move(Call));
  } while (In.TakePunct(';'));
  if (!In.AtEnd()) {
    Error = "expected ';' or the end of the line, found " + Describe(In.Peek());
    return false;
  }
  return true;
}

} // namespace

bool ParseCalls(const std::string& Text, std::vector<THandlerCall>& Calls, std::string& Error) {
  if (Text.find_first_of("\r\n") != std::string::npos) {
    Error = "handlers are written on one line";
    return false;
  }
  std::vector<TToken> Tokens;
  if (!Tokenize(Text, Tokens, Error)) return false;
  if (Tokens.empty()) {
    Error = "no handler is named";
    return false;
  }
  TCursor In(Tokens);
  return ParseCalls(In, Calls, Error);
}

namespace {

// "Key = value" inside an object or the run section.
bool ParseAssignment(TCursor& In, const std::string& Key, int Line, TNode* Node,
                     std::vector<TProperty>& Properties, std::string& Error) {
  if (!In.TakePunct('=')) {
    Error = "expected '=' after '" + Key + "'";
    return false;
  }
  // Events follow the naming of the library: On and a capital.
  const bool IsEvent = Key.size() > 2 && Key.compare(0, 2, "On") == 0 &&
                       std::isupper(static_cast<unsigned char>(Key[2]));
  if (IsEvent) {
    if (!Node) {
      Error = "a handler cannot be bound in the run section or a schedule";
      return false;
    }
    TEvent Event{Key, Line, {}};
    if (!ParseCalls(In, Event.Calls, Error)) return false;
    Node->Events.push_back(std::move(Event));
    return true;
  }
  const TToken T = In.Take();
  TProperty P{Key, Line, {}};
  if (T.Kind == TToken::TKind::Number)
    P.Value = {TValue::TKind::Number, T.Text};
  else if (T.Kind == TToken::TKind::Word)
    P.Value = {TValue::TKind::Word, T.Text};
  else if (T.Kind == TToken::TKind::String)
    P.Value = {TValue::TKind::String, T.Text};
  else {
    Error = "expected a value after '" + Key + " =', found " + Describe(T);
    return false;
  }
  if (!In.AtEnd()) {
    Error =
        "expected the end of the line after the value of " + Key + ", found " + Describe(In.Peek());
    return false;
  }
  Properties.push_back(std::move(P));
  return true;
}

std::string Quote(const std::string& S) {
  std::string Q = "\"";
  for (char C : S) {
    if (C == '"' || C == '\\')
      Q += std::string("\\") + C;
    else if (C == '\n')
      Q += "\\n";
    else if (C == '\t')
      Q += "\\t";
    else
      Q += C;
  }
  return Q + "\"";
}

std::string WriteValue(const TValue& V) {
  return V.Kind == TValue::TKind::String ? Quote(V.Text) : V.Text;
}

void WriteNode(const TNode& Node, int Depth, std::string& Out) {
  const std::string Indent(2 * Depth, ' ');
  Out += Indent + "object " + Node.Name + ": " + Node.Class;
  if (Node.Properties.empty() && Node.Events.empty() && Node.Children.empty()) {
    Out += " end\n";
    return;
  }
  Out += "\n";
  for (const TProperty& P : Node.Properties)
    Out += Indent + "  " + P.Key + " = " + WriteValue(P.Value) + "\n";
  for (const TEvent& E : Node.Events)
    Out += Indent + "  " + E.Key + " = " + WriteCalls(E.Calls) + "\n";
  for (const TNode& Child : Node.Children)
    WriteNode(Child, Depth + 1, Out);
  Out += Indent + "end\n";
}

} // namespace

bool Parse(const std::string& Text, const std::string& FileName, TDocument& Doc,
           std::string& Error) {
  Doc = TDocument{};
  // The open objects, innermost last; a run section is open when InRun.
  std::vector<TNode*> Open;
  // Indentation is free, but where an 'end' is indented unlike the object
  // it closes, a missing 'end' is more likely there than at the outermost
  // object; the first such place is kept for the message.
  std::vector<std::size_t> OpenIndent;
  std::string SuspectName;
  int SuspectLine = 0, SuspectEnd = 0;
  bool InRun = false;
  int RunLine = 0;
  TScheduleNode* InSchedule = nullptr;
  int LineNo = 0;
  std::size_t Start = 0;
  std::string Problem;
  auto Fail = [&](int Line, const std::string& What) {
    Error = FileName + ":" + std::to_string(Line) + ": " + ClipWords(What);
    return false;
  };
  // A byte-order mark, as some editors write at the start of UTF-8 text.
  if (Text.compare(0, 3, "\xEF\xBB\xBF") == 0) Start = 3;
  while (Start < Text.size()) {
    std::size_t Stop = Text.find('\n', Start);
    if (Stop == std::string::npos) Stop = Text.size();
    std::string Line = Text.substr(Start, Stop - Start);
    Start = Stop + 1;
    ++LineNo;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    std::vector<TToken> Tokens;
    if (!Tokenize(Line, Tokens, Problem)) return Fail(LineNo, Problem);
    if (Tokens.empty()) continue;
    TCursor In(Tokens);
    const std::size_t Indent = Line.find_first_not_of(" \t");
    const TToken First = In.Take();
    if (First.Kind != TToken::TKind::Word)
      return Fail(LineNo,
                  "expected 'object', 'end', 'run' or a property, found " + Describe(First));
    if (First.Text == "object") {
      if (InRun) return Fail(LineNo, "an object inside the run section");
      if (InSchedule) return Fail(LineNo, "an object inside a schedule section");
      if (static_cast<int>(Open.size()) >= MaxDepth)
        return Fail(LineNo, "objects nested deeper than " + std::to_string(MaxDepth));
      const TToken Name = In.Take();
      if (Name.Kind != TToken::TKind::Word)
        return Fail(LineNo, "expected the object's name, found " + Describe(Name));
      if (!In.TakePunct(':')) return Fail(LineNo, "expected ':' after the name " + Name.Text);
      const TToken Class = In.Take();
      if (Class.Kind != TToken::TKind::Word)
        return Fail(LineNo, "expected the class of " + Name.Text + ", found " + Describe(Class));
      std::vector<TNode>& Siblings = Open.empty() ? Doc.Objects : Open.back()->Children;
      Siblings.push_back(TNode{Name.Text, Class.Text, LineNo, {}, {}, {}});
      const bool Closed = In.Peek().Kind == TToken::TKind::Word && In.Peek().Text == "end";
      if (Closed) In.Take();
      if (!In.AtEnd())
        return Fail(LineNo,
                    "expected the end of the line after the class, found " + Describe(In.Peek()));
      if (!Closed) {
        Open.push_back(&Siblings.back());
        OpenIndent.push_back(Indent);
      }
    } else if (First.Text == "end") {
      if (!In.AtEnd()) return Fail(LineNo, "expected nothing after 'end'");
      if (InRun)
        InRun = false;
      else if (InSchedule)
        InSchedule = nullptr;
      else if (!Open.empty()) {
        if (OpenIndent.back() != Indent && SuspectName.empty()) {
          SuspectName = Open.back()->Name;
          SuspectLine = Open.back()->Line;
          SuspectEnd = LineNo;
        }
        Open.pop_back();
        OpenIndent.pop_back();
      } else if (!SuspectName.empty())
        // An 'end' too many closed an object early; it is the one to
        // point at, not this last one that found nothing left to close.
        return Fail(SuspectEnd, "an 'end' too many? It closes object " + SuspectName +
                                    " (line " + std::to_string(SuspectLine) +
                                    ") but is indented as for another object, so the 'end' on "
                                    "line " +
                                    std::to_string(LineNo) + " has no object left to close");
      else
        return Fail(LineNo, "'end' without an open object");
    } else if (First.Text == "run" && In.AtEnd()) {
      if (InRun || !Open.empty()) return Fail(LineNo, "the run section must stand at top level");
      if (Doc.HasRun) return Fail(LineNo, "a second run section");
      Doc.HasRun = true;
      InRun = true;
      RunLine = LineNo;
    } else if (First.Text == "schedule" && In.Peek().Kind == TToken::TKind::Word && !InRun &&
               !InSchedule && Open.empty()) {
      const TToken Name = In.Take();
      if (!In.AtEnd())
        return Fail(LineNo, "expected the end of the line after the schedule's name, found " +
                                Describe(In.Peek()));
      Doc.Schedules.push_back(TScheduleNode{Name.Text, LineNo, {}});
      InSchedule = &Doc.Schedules.back();
    } else if (InRun) {
      if (!ParseAssignment(In, First.Text, LineNo, nullptr, Doc.Run, Problem))
        return Fail(LineNo, Problem);
    } else if (InSchedule) {
      if (!ParseAssignment(In, First.Text, LineNo, nullptr, InSchedule->Properties, Problem))
        return Fail(LineNo, Problem);
    } else if (!Open.empty()) {
      if (!ParseAssignment(In, First.Text, LineNo, Open.back(), Open.back()->Properties, Problem))
        return Fail(LineNo, Problem);
    } else {
      return Fail(LineNo, "'" + First.Text + "' outside an object");
    }
  }
  if (InRun) return Fail(RunLine, "the run section has no 'end'");
  if (InSchedule) return Fail(InSchedule->Line, "schedule " + InSchedule->Name + " has no 'end'");
  if (!Open.empty() && !SuspectName.empty())
    return Fail(SuspectLine, "object " + SuspectName + " has no 'end' (the 'end' on line " +
                                 std::to_string(SuspectEnd) +
                                 " is indented as for another object)");
  if (!Open.empty())
    return Fail(Open.back()->Line, "object " + Open.back()->Name + " has no 'end'");
  if (!SuspectName.empty()) {
    Doc.SuspectEnd = SuspectEnd;
    Doc.SuspectName = SuspectName;
  }
  return true;
}

std::string ClipWords(const std::string& Text) {
  constexpr std::size_t Longest = 64, Kept = 40;
  std::string Out;
  std::size_t i = 0;
  while (i < Text.size()) {
    std::size_t j = Text.find(' ', i);
    if (j == std::string::npos) j = Text.size();
    if (j - i > Longest)
      Out.append(Text, i, Kept).append("... (" + std::to_string(j - i) + " characters)");
    else
      Out.append(Text, i, j - i);
    if (j < Text.size()) Out += ' ';
    i = j + 1;
  }
  return Out;
}

std::string WriteCalls(const std::vector<THandlerCall>& Calls) {
  std::string Out;
  for (std::size_t i = 0; i < Calls.size(); ++i) {
    const THandlerCall& C = Calls[i];
    Out += (i ? "; " : "") + C.Name;
    if (!C.Parens) continue;
    Out += "(";
    for (std::size_t a = 0; a < C.Args.size(); ++a) {
      const THandlerArg& A = C.Args[a];
      Out += (a ? ", " : "") + A.Text;
      if (A.Method.empty()) continue;
      Out += "." + A.Method + "(";
      for (std::size_t p = 0; p < A.Params.size(); ++p)
        Out += (p ? ", " : "") + A.Params[p];
      Out += ")";
    }
    Out += ")";
  }
  return Out;
}

std::string Write(const TDocument& Doc) {
  std::string Out;
  if (Doc.HasRun) {
    Out += "run\n";
    for (const TProperty& P : Doc.Run)
      Out += "  " + P.Key + " = " + WriteValue(P.Value) + "\n";
    Out += "end\n";
  }
  for (const TScheduleNode& S : Doc.Schedules) {
    if (!Out.empty()) Out += "\n";
    Out += "schedule " + S.Name + "\n";
    for (const TProperty& P : S.Properties)
      Out += "  " + P.Key + " = " + WriteValue(P.Value) + "\n";
    Out += "end\n";
  }
  for (const TNode& Node : Doc.Objects) {
    if (!Out.empty()) Out += "\n";
    WriteNode(Node, 0, Out);
  }
  return Out;
}

} // namespace quorin::modelfile
