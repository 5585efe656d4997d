#include "text.h"

#include <algorithm>
#include <cctype>

namespace quorin::studio {

namespace {

// The text split at '\n'; a text ending with a line break ends with an
// empty piece, so that joining gives the text back exactly.
std::vector<std::string> Split(const std::string& Text) {
  std::vector<std::string> Lines;
  std::size_t At = 0;
  for (;;) {
    const std::size_t Break = Text.find('\n', At);
    if (Break == std::string::npos) {
      Lines.push_back(Text.substr(At));
      return Lines;
    }
    Lines.push_back(Text.substr(At, Break - At));
    At = Break + 1;
  }
}

std::string Join(const std::vector<std::string>& Lines) {
  std::string Text;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    if (i) Text += '\n';
    Text += Lines[i];
  }
  return Text;
}

// Where the comment of a line starts (a '#' outside a string), or npos.
std::size_t CommentAt(const std::string& Line) {
  bool InString = false;
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const char C = Line[i];
    if (InString) {
      if (C == '\\') ++i;
      else if (C == '"') InString = false;
    } else if (C == '"') {
      InString = true;
    } else if (C == '#') {
      return i;
    }
  }
  return std::string::npos;
}

std::string Trim(const std::string& S) {
  std::size_t B = 0, E = S.size();
  while (B < E && std::isspace(static_cast<unsigned char>(S[B])))
    ++B;
  while (E > B && std::isspace(static_cast<unsigned char>(S[E - 1])))
    --E;
  return S.substr(B, E - B);
}

// The code of a line: without comment and surrounding blanks.
std::string Code(const std::string& Line) {
  const std::size_t C = CommentAt(Line);
  return Trim(C == std::string::npos ? Line : Line.substr(0, C));
}

std::vector<std::string> Words(const std::string& Code) {
  std::vector<std::string> W;
  std::string Cur;
  for (char C : Code) {
    if (std::isspace(static_cast<unsigned char>(C)) || C == ':') {
      if (!Cur.empty()) W.push_back(Cur);
      Cur.clear();
      if (C == ':') W.push_back(":");
    } else {
      Cur += C;
    }
  }
  if (!Cur.empty()) W.push_back(Cur);
  return W;
}

int IndentOf(const std::string& Line) {
  int N = 0;
  while (N < int(Line.size()) && (Line[N] == ' ' || Line[N] == '\t'))
    ++N;
  return N;
}

// The line ending the text uses: "\r\n" when its first line has one.
bool UsesCrLf(const std::vector<std::string>& Lines) {
  return !Lines.empty() && !Lines[0].empty() && Lines[0].back() == '\r';
}

} // namespace

const TTextObject* TTextShape::FindSchedule(const std::string& Name) const {
  for (const TTextObject& O : Schedules)
    if (O.Name == Name) return &O;
  return nullptr;
}

const TTextObject* TTextShape::Find(const std::string& Name) const {
  for (const TTextObject& O : Objects)
    if (O.Name == Name) return &O;
  return nullptr;
}

bool IsName(const std::string& Name) {
  if (Name.empty() || Name.size() > 64 || std::isdigit(static_cast<unsigned char>(Name[0])))
    return false;
  for (char C : Name)
    if (!std::isalnum(static_cast<unsigned char>(C)) && C != '_') return false;
  return true;
}

TTextShape ScanText(const std::string& Text) {
  TTextShape Shape;
  const std::vector<std::string> Lines = Split(Text);
  std::vector<std::size_t> Open; // indexes into Shape.Objects
  enum class TIn { Top, Run, Schedule } In = TIn::Top;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    const int Line = int(i) + 1;
    const std::string C = Code(Lines[i]);
    if (C.empty()) continue;
    const std::vector<std::string> W = Words(C);
    if (In == TIn::Run || In == TIn::Schedule) {
      if (W[0] == "end") {
        if (In == TIn::Run) Shape.RunEnd = Line;
        else Shape.Schedules.back().End = Line;
        In = TIn::Top;
      } else {
        const std::size_t Eq = C.find('=');
        if (Eq != std::string::npos)
          (In == TIn::Run ? Shape.Run : Shape.Schedules.back().Entries)
              .push_back({Trim(C.substr(0, Eq)), Trim(C.substr(Eq + 1)), Line});
      }
      continue;
    }
    if (W[0] == "run" && W.size() == 1 && Open.empty()) {
      In = TIn::Run;
      Shape.HasRun = true;
      Shape.RunBegin = Line;
    } else if (W[0] == "schedule" && Open.empty()) {
      In = TIn::Schedule;
      TTextObject S;
      S.Name = W.size() > 1 ? W[1] : "";
      S.Class = "schedule";
      S.Begin = S.End = Line;
      S.Indent = IndentOf(Lines[i]);
      Shape.Schedules.push_back(S);
    } else if (W[0] == "object" && W.size() >= 4 && W[2] == ":") {
      TTextObject O;
      O.Name = W[1];
      O.Class = W[3];
      O.Begin = O.End = Line;
      O.Indent = IndentOf(Lines[i]);
      if (!Open.empty()) O.Parent = Shape.Objects[Open.back()].Name;
      Shape.Objects.push_back(O);
      if (W.size() >= 5 && W[4] == "end") continue; // object X: T end
      if (Open.size() < 64) Open.push_back(Shape.Objects.size() - 1);
    } else if (W[0] == "end" && W.size() == 1) {
      if (!Open.empty()) {
        Shape.Objects[Open.back()].End = Line;
        Open.pop_back();
      }
    } else if (!Open.empty()) {
      const std::size_t Eq = C.find('=');
      if (Eq != std::string::npos)
        Shape.Objects[Open.back()].Entries.push_back(
            {Trim(C.substr(0, Eq)), Trim(C.substr(Eq + 1)), Line});
    }
  }
  if (In == TIn::Schedule) Shape.Schedules.back().End = int(Lines.size());
  // An object whose end is missing runs to the end of the text.
  for (std::size_t K : Open)
    Shape.Objects[K].End = int(Lines.size());
  return Shape;
}

std::string NewModelText() {
  return "run\n  Until = 1000\nend\n\nobject Form: TComponent\n  object Model: TModel\n"
         "    CheckModel = true\n  end\nend\n";
}

namespace {

bool SetEntryIn(std::string& Text, const std::string& Name, bool Schedule, const std::string& Key,
                const std::string& Value, std::string& Error) {
  if (!IsName(Key)) {
    Error = "'" + Key + "' is no property or event name";
    return false;
  }
  if (Value.find('\n') != std::string::npos || Value.find('\r') != std::string::npos) {
    Error = "a value stays on one line";
    return false;
  }
  std::vector<std::string> Lines = Split(Text);
  const TTextShape Shape = ScanText(Text);
  const std::vector<TTextEntry>* Entries = nullptr;
  int Begin = 0, End = 0, Indent = 2;
  if (Name.empty()) {
    if (!Shape.HasRun) {
      if (Value.empty()) return true;
      if (Text.empty()) {
        Text = "run\n  " + Key + " = " + Value + "\nend\n";
        return true;
      }
      // A run section goes first, before the objects (after leading comments).
      std::size_t At = 0;
      while (At < Lines.size() && Code(Lines[At]).empty() && !Lines[At].empty())
        ++At;
      const std::string Eol = UsesCrLf(Lines) ? "\r" : "";
      Lines.insert(Lines.begin() + long(At),
                   {"run" + Eol, "  " + Key + " = " + Value + Eol, "end" + Eol, Eol});
      Text = Join(Lines);
      return true;
    }
    Entries = &Shape.Run;
    Begin = Shape.RunBegin;
    End = Shape.RunEnd ? Shape.RunEnd : int(Lines.size());
  } else {
    const TTextObject* O = Schedule ? Shape.FindSchedule(Name) : Shape.Find(Name);
    if (!O) {
      Error = (Schedule ? "no schedule named " : "no component named ") + Name;
      return false;
    }
    Entries = &O->Entries;
    Begin = O->Begin;
    End = O->End;
    Indent = O->Indent + 2;
  }
  for (const TTextEntry& E : *Entries) {
    if (E.Key != Key) continue;
    std::string& L = Lines[E.Line - 1];
    if (Value.empty()) {
      Lines.erase(Lines.begin() + E.Line - 1);
    } else {
      // Keep what stands before the value and after it (blanks, comment).
      const std::size_t Eq = L.find('=');
      const std::size_t Comment = CommentAt(L);
      std::string Tail;
      if (Comment != std::string::npos) {
        std::size_t Blank = Comment;
        while (Blank > Eq + 1 && (L[Blank - 1] == ' ' || L[Blank - 1] == '\t'))
          --Blank;
        Tail = L.substr(Blank);
      } else if (!L.empty() && L.back() == '\r') {
        Tail = "\r";
      }
      L = L.substr(0, Eq + 1) + " " + Value + Tail;
    }
    Text = Join(Lines);
    return true;
  }
  if (Value.empty()) return true;
  const std::string Eol = UsesCrLf(Lines) ? "\r" : "";
  const std::string NewLine = std::string(std::size_t(Indent), ' ') + Key + " = " + Value + Eol;
  if (!Name.empty() && Begin == End) {
    // "object X: T end" opens up into three lines.
    std::string& L = Lines[Begin - 1];
    const std::size_t Comment = CommentAt(L);
    std::string Head = Comment == std::string::npos ? L : L.substr(0, Comment);
    std::string Tail = Comment == std::string::npos ? "" : " " + L.substr(Comment);
    if (!Head.empty() && Head.back() == '\r') Head.pop_back();
    Head = Head.substr(0, Head.find_last_not_of(" \t") + 1);
    Head = Head.substr(0, Head.size() - 3); // the "end"
    Head = Head.substr(0, Head.find_last_not_of(" \t") + 1);
    if (!Tail.empty() && Tail.back() == '\r') Tail.pop_back();
    L = Head + Tail + Eol;
    Lines.insert(Lines.begin() + Begin,
                 {NewLine, std::string(std::size_t(Indent - 2), ' ') + "end" + Eol});
  } else {
    Lines.insert(Lines.begin() + End - 1, NewLine);
  }
  Text = Join(Lines);
  return true;
}

} // namespace

bool SetEntry(std::string& Text, const std::string& Name, const std::string& Key,
              const std::string& Value, std::string& Error) {
  return SetEntryIn(Text, Name, false, Key, Value, Error);
}

bool SetScheduleEntry(std::string& Text, const std::string& Name, const std::string& Key,
                      const std::string& Value, std::string& Error) {
  if (Name.empty()) {
    Error = "no schedule named";
    return false;
  }
  return SetEntryIn(Text, Name, true, Key, Value, Error);
}

bool AddSchedule(std::string& Text, const std::string& Name, const std::string& Steps,
                 std::string& Error) {
  if (!IsName(Name)) {
    Error = "'" + Name + "' is no name: letters, digits and '_', not starting with a digit";
    return false;
  }
  const TTextShape Shape = ScanText(Text);
  if (Shape.FindSchedule(Name)) {
    Error = "a second schedule named " + Name;
    return false;
  }
  std::vector<std::string> Lines = Split(Text);
  const std::string Eol = UsesCrLf(Lines) ? "\r" : "";
  // After the run section and the schedules, else before the first object.
  int At = Shape.RunEnd;
  for (const TTextObject& S : Shape.Schedules)
    At = std::max(At, S.End);
  if (At == 0 && !Shape.Objects.empty()) At = Shape.Objects.front().Begin - 1;
  if (At == 0 && Shape.Objects.empty()) At = int(Lines.size()) - (Lines.back().empty() ? 1 : 0);
  Lines.insert(Lines.begin() + At, {Eol, "schedule " + Name + Eol,
                                    "  Steps = " + Steps + Eol, "end" + Eol});
  if (At == 0) Lines.erase(Lines.begin()); // no blank line at the top
  Text = Join(Lines);
  return true;
}

bool AddObject(std::string& Text, const std::string& Class, const std::string& Name, int Left,
               int Top, std::string& Error) {
  if (!IsName(Name) || !IsName(Class)) {
    Error = "'" + Name + "' is no name: letters, digits and '_', not starting with a digit";
    return false;
  }
  TTextShape Shape = ScanText(Text);
  if (Shape.Find(Name)) {
    Error = "a second component named " + Name;
    return false;
  }
  const TTextObject* Form = nullptr;
  for (const TTextObject& O : Shape.Objects)
    if (O.Parent.empty() && O.Class == "TComponent") {
      Form = &O;
      break;
    }
  if (!Form) {
    // No form yet: one with its model, after what the text holds.
    if (!Text.empty() && Text.back() != '\n') Text += '\n';
    if (!Text.empty() && Text.compare(Text.size() - std::min<std::size_t>(Text.size(), 2), 2, "\n\n") != 0)
      Text += '\n';
    Text += "object Form: TComponent\n  object Model: TModel\n    CheckModel = true\n  end\nend\n";
    Shape = ScanText(Text);
    Form = Shape.Find("Form");
    if (Class == "TModel") {
      Error = "the form has its TModel already";
      return false;
    }
  }
  std::vector<std::string> Lines = Split(Text);
  const std::string Eol = UsesCrLf(Lines) ? "\r" : "";
  const std::string In(std::size_t(Form->Indent + 2), ' ');
  std::vector<std::string> Add = {In + "object " + Name + ": " + Class + Eol,
                                  In + "  Left = " + std::to_string(Left) + Eol,
                                  In + "  Top = " + std::to_string(Top) + Eol, In + "end" + Eol};
  const int At = Form->End > Form->Begin ? Form->End - 1 : Form->Begin;
  if (Form->End == Form->Begin) {
    Error = "the form " + Form->Name + " is written on one line; open it up first";
    return false;
  }
  Lines.insert(Lines.begin() + At, Add.begin(), Add.end());
  Text = Join(Lines);
  return true;
}

bool RemoveObject(std::string& Text, const std::string& Name, std::string& Error) {
  const TTextShape Shape = ScanText(Text);
  const TTextObject* O = Shape.Find(Name);
  if (!O) {
    Error = "no component named " + Name;
    return false;
  }
  std::vector<std::string> Lines = Split(Text);
  Lines.erase(Lines.begin() + O->Begin - 1, Lines.begin() + O->End);
  Text = Join(Lines);
  return true;
}

bool RenameObject(std::string& Text, const std::string& From, const std::string& To,
                  std::string& Error) {
  if (!IsName(To)) {
    Error = "'" + To + "' is no name: letters, digits and '_', not starting with a digit";
    return false;
  }
  const TTextShape Shape = ScanText(Text);
  const TTextObject* O = Shape.Find(From);
  if (!O) {
    Error = "no component named " + From;
    return false;
  }
  if (From == To) return true;
  if (Shape.Find(To)) {
    Error = "a second component named " + To;
    return false;
  }
  std::vector<std::string> Lines = Split(Text);
  std::string& Head = Lines[O->Begin - 1];
  const std::size_t At = Head.find(From, Head.find("object") + 6);
  Head.replace(At, From.size(), To);
  // The name as a whole word, outside strings, in the code of handler lines.
  // From as a whole word replaced by To.
  const auto Replace = [&From, &To](const std::string& Code) {
    const auto IsWord = [](char C) { return std::isalnum(static_cast<unsigned char>(C)) || C == '_'; };
    std::string Out;
    std::size_t From0 = 0;
    for (std::size_t Hit; (Hit = Code.find(From, From0)) != std::string::npos;) {
      const std::size_t End = Hit + From.size();
      const bool Whole = (Hit == 0 || !IsWord(Code[Hit - 1])) && (End >= Code.size() || !IsWord(Code[End]));
      Out += Code.substr(From0, Hit - From0) + (Whole ? To : From);
      From0 = End;
    }
    return Out + Code.substr(From0);
  };
  for (const TTextObject& X : Shape.Objects)
    for (const TTextEntry& E : X.Entries) {
      if (E.Key.rfind("On", 0) != 0) continue;
      std::string& L = Lines[E.Line - 1];
      const std::size_t Eq = L.find('=');
      const std::size_t Comment = CommentAt(L);
      const std::size_t CodeEnd = Comment == std::string::npos ? L.size() : Comment;
      L = L.substr(0, Eq + 1) +
          Replace(L.substr(Eq + 1, CodeEnd - Eq - 1)) + L.substr(CodeEnd);
    }
  Text = Join(Lines);
  return true;
}

} // namespace quorin::studio
