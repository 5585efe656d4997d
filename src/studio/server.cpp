#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "files.h"
#include "model.h"
#include "runs.h"
#include "studio.h"
#include "studio_assets.h"
#include "text.h"

namespace quorin::studio {

using nlohmann::json;

namespace {

std::string RandomToken() {
  std::random_device Device;
  std::string T;
  for (int i = 0; i < 32; ++i)
    T += "0123456789abcdef"[Device() & 15];
  return T;
}

// Compares in a time that does not depend on where the texts differ.
bool SameToken(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  unsigned char D = 0;
  for (std::size_t i = 0; i < A.size(); ++i)
    D |= static_cast<unsigned char>(A[i] ^ B[i]);
  return D == 0;
}

// An error the page shows as it stands.
struct TRefusal : std::runtime_error {
  int Status;
  TRefusal(int AStatus, const std::string& Text) : std::runtime_error(Text), Status(AStatus) {}
};

void Reply(httplib::Response& Res, int Status, const json& Body) {
  Res.status = Status;
  Res.set_content(Body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

std::string Str(const json& J, const char* Key, bool Required = true) {
  const auto At = J.find(Key);
  if (At == J.end()) {
    if (Required) throw TRefusal(400, std::string("the request has no ") + Key);
    return {};
  }
  if (!At->is_string()) throw TRefusal(400, std::string(Key) + " must be a string");
  return At->get<std::string>();
}

int64_t Int(const json& J, const char* Key, int64_t Min, int64_t Max, int64_t Default) {
  const auto At = J.find(Key);
  if (At == J.end() || At->is_null()) return Default;
  if (!At->is_number_integer() || At->get<int64_t>() < Min || At->get<int64_t>() > Max)
    throw TRefusal(400, std::string(Key) + " must be a whole number in " + std::to_string(Min) +
                            "..." + std::to_string(Max));
  return At->get<int64_t>();
}

} // namespace

struct TStudioServer::TImpl {
  TStudioOptions Options;
  httplib::Server Http;
  int BoundPort = 0;
  TFolder Folder{"/nonexistent-folder"};
  std::string StartName; // the model the studio started with, relative
  std::string Scratch;
  std::unique_ptr<TRuns> Runs;
  std::mutex SaveMutex;
  // Loading a model touches the library's global state (the model being
  // built, the message handler): one load at a time.
  std::mutex ModelMutex;
  json Describe(const std::string& Text, const std::string& Name) {
    std::lock_guard<std::mutex> Lock(ModelMutex);
    return DescribeModel(Text, Name);
  }
  int RunCount = 0;
  std::atomic<int> Copies{0};

  explicit TImpl(TStudioOptions O) : Options(std::move(O)) {
    if (Options.Token.empty()) Options.Token = RandomToken();
  }

  ~TImpl() {
    Runs.reset();
    if (!Scratch.empty()) {
      // Only the files this server wrote there.
      for (int i = 1; i <= RunCount; ++i)
        for (const char* Ext : {".html", ".txt"})
          ::unlink((Scratch + "/run-" + std::to_string(i) + Ext).c_str());
      ::rmdir(Scratch.c_str());
    }
  }

  bool HostAllowed(const std::string& Host) const {
    const std::string Port = ":" + std::to_string(BoundPort);
    return Host == "127.0.0.1" + Port || Host == "localhost" + Port;
  }

  // Every request: the loopback as Host (and as Origin when one is sent),
  // and the token, as a header or in the query.
  httplib::Server::HandlerResponse Guard(const httplib::Request& Req, httplib::Response& Res) {
    const auto Refuse = [&Res](int Status, const std::string& Why) {
      Reply(Res, Status, {{"error", Why}});
      return httplib::Server::HandlerResponse::Handled;
    };
    if (!HostAllowed(Req.get_header_value("Host")))
      return Refuse(403, "refused: the Host is not this studio's loopback address");
    if (Req.has_header("Origin")) {
      const std::string Origin = Req.get_header_value("Origin");
      if (!HostAllowed(Origin.rfind("http://", 0) == 0 ? Origin.substr(7) : std::string("-")))
        return Refuse(403, "refused: the request comes from another site");
    }
    std::string Token = Req.get_header_value("X-Studio-Token");
    if (Token.empty()) Token = Req.get_param_value("token");
    if (!SameToken(Token, Options.Token))
      return Refuse(403, "refused: the request does not carry the studio's token");
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // A JSON request's body as an object.
  json Body(const httplib::Request& Req) const {
    json J = json::parse(Req.body, nullptr, false);
    if (J.is_discarded()) throw TRefusal(400, "the request body is not well-formed JSON");
    if (!J.is_object()) throw TRefusal(400, "the request body must be a JSON object");
    return J;
  }

  std::string Text(const json& J) const {
    std::string T = Str(J, "text");
    if (T.size() > Options.MaxModel)
      throw TRefusal(413, "the model text is larger than " + std::to_string(Options.MaxModel) +
                              " bytes");
    return T;
  }

  // The name a model goes by in messages: its path, or "untitled.qm".
  static std::string Shown(const std::string& Path) { return Path.empty() ? "untitled.qm" : Path; }

  void Handle(const char* Method, const std::string& Pattern,
              std::function<void(const httplib::Request&, httplib::Response&)> F) {
    auto Safe = [F](const httplib::Request& Req, httplib::Response& Res) {
      try {
        F(Req, Res);
      } catch (const TRefusal& E) {
        Reply(Res, E.Status, {{"error", E.what()}});
      } catch (const std::exception& E) {
        Reply(Res, 400, {{"error", E.what()}});
      }
    };
    if (std::strcmp(Method, "GET") == 0) Http.Get(Pattern, Safe);
    else Http.Post(Pattern, Safe);
  }

  std::string PageHtml() const {
    std::string Html = asset::StudioHtml();
    const auto Put = [&Html](const std::string& Mark, const std::string& Text) {
      const std::size_t At = Html.find(Mark);
      if (At != std::string::npos) Html.replace(At, Mark.size(), Text);
    };
    Put("/*STUDIO_CSS*/", asset::StudioCss());
    Put("/*STUDIO_JS*/", asset::StudioJs());
    return Html;
  }

  static void Page(httplib::Response& Res, const std::string& Html) {
    Res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "img-src data: blob:; connect-src 'self'; frame-src 'self'; "
                   "frame-ancestors 'self'");
    Res.set_header("Referrer-Policy", "no-referrer");
    Res.set_header("Cache-Control", "no-store");
    Res.set_content(Html, "text/html; charset=utf-8");
  }

  void Routes() {
    Http.set_pre_routing_handler(
        [this](const httplib::Request& Req, httplib::Response& Res) { return Guard(Req, Res); });
    Http.set_payload_max_length(Options.MaxBody);
    Http.set_keep_alive_max_count(100);
    Http.set_exception_handler([](const httplib::Request&, httplib::Response& Res,
                                  std::exception_ptr) {
      Reply(Res, 500, {{"error", "the request failed"}});
    });
    Http.set_error_handler([](const httplib::Request&, httplib::Response& Res) {
      if (Res.body.empty()) {
        const std::string Why = Res.status == 413   ? "the request body is too large"
                                : Res.status == 404 ? "no such page"
                                                    : "a malformed request";
        Reply(Res, Res.status, {{"error", Why}});
      }
    });

    const std::string Html = PageHtml();
    Handle("GET", "/", [Html](const httplib::Request&, httplib::Response& Res) { Page(Res, Html); });

    const std::string Classes = DescribeClasses().dump();
    Handle("GET", "/api/classes", [Classes](const httplib::Request&, httplib::Response& Res) {
      Res.set_content(Classes, "application/json");
    });

    Handle("GET", "/api/files", [this](const httplib::Request&, httplib::Response& Res) {
      Reply(Res, 200, {{"files", Folder.List(2000)}, {"start", StartName}});
    });

    Handle("POST", "/api/open", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      const std::string Path = Str(J, "path");
      std::string Text, Error;
      bool Exists = false;
      if (!Folder.Read(Path, Options.MaxModel, Text, Exists, Error)) throw TRefusal(403, Error);
      Reply(Res, 200,
            {{"path", Path},
             {"text", Text},
             {"exists", Exists},
             {"version", VersionOf(Text, Exists)},
             {"model", Describe(Text, Path)}});
    });

    Handle("POST", "/api/check", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      Reply(Res, 200, {{"model", Describe(Text(J), Shown(Str(J, "path", false)))}});
    });

    Handle("POST", "/api/edit", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      std::string T = Text(J), Error;
      const std::string Name = Shown(Str(J, "path", false));
      const auto Edit = J.find("edit");
      if (Edit == J.end()) throw TRefusal(400, "the request has no edit");
      bool Applied = false;
      {
        std::lock_guard<std::mutex> Lock(ModelMutex);
        Applied = ApplyEdit(T, Name, *Edit, Error);
      }
      if (!Applied) {
        Reply(Res, 200, {{"ok", false}, {"error", Error}});
        return;
      }
      if (T.size() > Options.MaxModel) throw TRefusal(413, "the model would grow too large");
      Reply(Res, 200, {{"ok", true}, {"text", T}, {"model", Describe(T, Name)}});
    });

    // A save names the version it started from: when the file changed since
    // (another tab or program saved it), the save is refused rather than
    // writing over those changes.
    Handle("POST", "/api/save", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      const std::string Path = Str(J, "path"), Base = Str(J, "base"), T = Text(J);
      std::lock_guard<std::mutex> Lock(SaveMutex);
      std::string Old, Error;
      bool Exists = false;
      if (!Folder.Read(Path, Options.MaxModel, Old, Exists, Error)) throw TRefusal(403, Error);
      if (VersionOf(Old, Exists) != Base)
        throw TRefusal(409, Path + (Exists ? " changed on disk since it was opened here (another "
                                             "tab or program saved it): reopen it, or save under "
                                             "another name"
                                           : " was removed since it was opened here"));
      if (!Folder.Write(Path, T, Error)) throw TRefusal(403, Error);
      Reply(Res, 200, {{"path", Path}, {"version", VersionOf(T, true)}});
    });

    Handle("POST", "/api/run", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      const std::string T = Text(J), Path = Str(J, "path", false);
      const json Model = Describe(T, Shown(Path));
      if (!Model["loaded"].get<bool>())
        throw TRefusal(409, "the model has errors: see the check");
      TRunRequest R;
      R.Replications = int32_t(Int(J, "replications", 0, 100000, 0));
      R.Jobs = int32_t(Int(J, "jobs", 1, 64, 1));
      R.Seed = Int(J, "seed", 0, 2147483646, 0);
      R.ShownName = Shown(Path);
      // The text is run from a file beside the model, so that data files
      // that it names relative to its folder are found.
      std::string Dir = Folder.Root(), Full, Error;
      if (!Path.empty()) {
        if (!Folder.Resolve(Path, true, Full, Error)) throw TRefusal(403, Error);
        Dir = Full.substr(0, Full.rfind('/'));
      }
      // A name of its own for every run: a refused run must not remove the
      // copy that the run under way reads.
      R.ModelPath = Dir + "/.studio-run-" + std::to_string(::getpid()) + "-" +
                    std::to_string(++Copies) + ".qm";
      const int Fd = ::open(R.ModelPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                            0600);
      const bool Written = Fd >= 0 && ::write(Fd, T.data(), T.size()) == ssize_t(T.size());
      if (Fd >= 0) ::close(Fd);
      if (!Written) {
        ::unlink(R.ModelPath.c_str());
        throw TRefusal(500, "cannot write the run's copy of the model: " +
                                std::string(std::strerror(errno)));
      }
      const int32_t Id = Runs->Start(R, Error);
      if (!Id) {
        ::unlink(R.ModelPath.c_str());
        throw TRefusal(409, Error);
      }
      RunCount = Id;
      Reply(Res, 200, {{"id", Id}});
    });

    Handle("GET", "/api/run", [this](const httplib::Request& Req, httplib::Response& Res) {
      const std::string Id = Req.get_param_value("id");
      const TRunState S = Runs->State(Id.size() < 9 && !Id.empty() && Id.find_first_not_of(
                                                                          "0123456789") ==
                                                                          std::string::npos
                                          ? std::stoi(Id)
                                          : 0);
      if (S.Id == 0) throw TRefusal(404, "no such run");
      Reply(Res, 200,
            {{"id", S.Id},
             {"state", S.State},
             {"done", S.Done},
             {"total", S.Total},
             {"seconds", S.Seconds},
             {"output", S.Output},
             {"messages", S.Messages},
             {"page", S.HasPage}});
    });

    Handle("POST", "/api/stop", [this](const httplib::Request& Req, httplib::Response& Res) {
      const json J = Body(Req);
      Reply(Res, 200, {{"stopped", Runs->Stop(int32_t(Int(J, "id", 0, INT32_MAX, 0)))}});
    });

    Handle("GET", "/report", [this](const httplib::Request& Req, httplib::Response& Res) {
      const std::string Id = Req.get_param_value("id");
      const std::string Path =
          Id.size() < 9 && !Id.empty() && Id.find_first_not_of("0123456789") == std::string::npos
              ? Runs->PagePath(std::stoi(Id))
              : std::string();
      if (Path.empty()) throw TRefusal(404, "no page for that run");
      std::ifstream In(Path, std::ios::binary);
      std::ostringstream Text;
      Text << In.rdbuf();
      Page(Res, Text.str());
    });
  }
};

TStudioServer::TStudioServer(TStudioOptions Options)
    : FImpl(std::make_unique<TImpl>(std::move(Options))) {}

TStudioServer::~TStudioServer() = default;

bool TStudioServer::Bind(std::string& Error) {
  TImpl& I = *FImpl;
  // The folder: the model's, or the current one.
  std::string Dir = ".";
  if (!I.Options.File.empty()) {
    const std::size_t Slash = I.Options.File.rfind('/');
    Dir = Slash == std::string::npos ? "." : I.Options.File.substr(0, Slash + 1);
    I.StartName = Slash == std::string::npos ? I.Options.File : I.Options.File.substr(Slash + 1);
  }
  I.Folder = TFolder(Dir);
  if (!I.Folder.Valid()) {
    Error = Dir + ": no such folder";
    return false;
  }
  if (!I.StartName.empty()) {
    std::string Path;
    if (!I.Folder.Resolve(I.StartName, true, Path, Error)) {
      Error = I.Options.File + ": " + Error;
      return false;
    }
  }
  if (I.Options.Program.empty()) {
    char Buffer[PATH_MAX];
    const ssize_t N = ::readlink("/proc/self/exe", Buffer, sizeof Buffer - 1);
    if (N > 0) I.Options.Program.assign(Buffer, std::size_t(N));
  }
  const char* Tmp = std::getenv("TMPDIR");
  std::string Scratch = std::string(Tmp && *Tmp ? Tmp : "/tmp") + "/quorin-studio-XXXXXX";
  if (!::mkdtemp(Scratch.data())) {
    Error = std::string("cannot make a folder for the runs: ") + std::strerror(errno);
    return false;
  }
  I.Scratch = Scratch;
  I.Runs = std::make_unique<TRuns>(I.Options.Program, I.Scratch);
  I.Routes();
  if (I.Options.Port < 0 || I.Options.Port > 65535) {
    Error = "the port must lie in 0...65535";
    return false;
  }
  if (I.Options.Port == 0) {
    I.BoundPort = I.Http.bind_to_any_port("127.0.0.1");
  } else if (I.Http.bind_to_port("127.0.0.1", I.Options.Port)) {
    I.BoundPort = I.Options.Port;
  }
  if (I.BoundPort <= 0) {
    Error = "cannot listen on 127.0.0.1:" + std::to_string(I.Options.Port) +
            " (is the port in use?)";
    return false;
  }
  return true;
}

int TStudioServer::Port() const { return FImpl->BoundPort; }
const std::string& TStudioServer::Token() const { return FImpl->Options.Token; }

std::string TStudioServer::Address() const {
  std::string A = "http://127.0.0.1:" + std::to_string(Port()) + "/?token=" + Token();
  // The name is a checked model file name: letters that need no escaping
  // but for a few, escaped here.
  if (!FImpl->StartName.empty()) {
    A += "&file=";
    for (char C : FImpl->StartName) {
      if (std::isalnum(static_cast<unsigned char>(C)) || C == '.' || C == '-' || C == '_' ||
          C == '/') {
        A += C;
      } else {
        char Hex[4];
        std::snprintf(Hex, sizeof Hex, "%%%02X", static_cast<unsigned char>(C));
        A += Hex;
      }
    }
  }
  return A;
}

void TStudioServer::Serve() { FImpl->Http.listen_after_bind(); }
void TStudioServer::Stop() { FImpl->Http.stop(); }

int StudioMain(const TStudioOptions& Options, bool Open) {
  // Signals are taken by one thread, which stops the server: the handlers of
  // the server's threads are left alone.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGINT);
  sigaddset(&Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  TStudioServer Server(Options);
  std::string Error;
  if (!Server.Bind(Error)) {
    std::cerr << "quorin studio: " << Error << '\n';
    return 1;
  }
  std::cout << "Quorin Studio: " << Server.Address() << '\n'
            << "(the address holds the token that every request needs; Ctrl-C ends the studio)\n"
            << std::flush;
  if (Open) {
    const std::string Address = Server.Address();
    // Through a grandchild, so that no process is left unwaited for.
    const pid_t Child = ::fork();
    if (Child == 0) {
      if (::fork() == 0) {
        ::execlp("xdg-open", "xdg-open", Address.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      ::_exit(0);
    }
    if (Child > 0) ::waitpid(Child, nullptr, 0);
  }
  std::thread Waiter([&Server, Signals] {
    int Signal = 0;
    sigwait(&Signals, &Signal);
    Server.Stop();
  });
  Server.Serve();
  // The server stopped by itself: wake the waiter.
  ::kill(::getpid(), SIGTERM);
  Waiter.join();
  std::cout << "Quorin Studio ended\n";
  return 0;
}

} // namespace quorin::studio
