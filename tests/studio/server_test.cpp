// The studio's server over plain HTTP: what it refuses (no token, a foreign
// Host or Origin, paths outside the model's folder, large or malformed
// requests, saves over a newer file), and that it lives on after each.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "studio.h"

using namespace quorin::studio;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

void WriteFile(const fs::path& P, const std::string& Text) {
  std::ofstream(P, std::ios::binary) << Text;
}

// A studio on a folder of its own: models/mm1.qm, models/sub/a.qm; beside
// the folder a file it must never reach, and links to it inside.
class StudioServer : public ::testing::Test {
protected:
  void SetUp() override {
    char Temp[] = "/tmp/studio-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(Temp));
    Base = Temp;
    Models = Base / "models";
    fs::create_directories(Models / "sub");
    Mm1 = ReadFile(fs::path(QUORIN_EXAMPLES_DIR) / "mm1.qm");
    WriteFile(Models / "mm1.qm", Mm1);
    WriteFile(Models / "sub" / "a.qm", Mm1);
    WriteFile(Base / "secret.qm", "secret");
    WriteFile(Models / "notes.txt", "notes");
    fs::create_symlink(Base / "secret.qm", Models / "link.qm");
    fs::create_directory_symlink(Base, Models / "up");
    TStudioOptions O;
    O.File = (Models / "mm1.qm").string();
    O.Program = QUORIN_COMMAND;
    O.MaxBody = 64 * 1024;
    O.MaxModel = 32 * 1024;
    Server = std::make_unique<TStudioServer>(O);
    std::string Error;
    ASSERT_TRUE(Server->Bind(Error)) << Error;
    Serving = std::thread([this] { Server->Serve(); });
    Host = "127.0.0.1:" + std::to_string(Server->Port());
    for (int i = 0; i < 100 && !Alive(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void TearDown() override {
    if (Server) Server->Stop();
    if (Serving.joinable()) Serving.join();
    Server.reset();
    fs::remove_all(Base);
  }

  bool Alive() {
    httplib::Client C("127.0.0.1", Server->Port());
    auto R = C.Get("/api/files", {{"X-Studio-Token", Server->Token()}});
    return R && R->status == 200;
  }

  struct TAnswer {
    int Status = 0;
    json Body;
  };
  TAnswer Post(const std::string& Path, const std::string& Body, httplib::Headers Headers = {}) {
    httplib::Client C("127.0.0.1", Server->Port());
    if (Headers.empty()) Headers = {{"X-Studio-Token", Server->Token()}};
    auto R = C.Post(Path, Headers, Body, "application/json");
    if (!R) return {};
    return {R->status, json::parse(R->body, nullptr, false)};
  }
  TAnswer Post(const std::string& Path, const json& Body) { return Post(Path, Body.dump()); }
  TAnswer Get(const std::string& Path) {
    httplib::Client C("127.0.0.1", Server->Port());
    auto R = C.Get(Path, {{"X-Studio-Token", Server->Token()}});
    if (!R) return {};
    return {R->status, json::parse(R->body, nullptr, false)};
  }

  // Sends Raw on a socket of its own; answers the status line.
  std::string RawRequest(const std::string& Raw) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(uint16_t(Server->Port()));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
      ::close(Fd);
      return "no connection";
    }
    (void)!::write(Fd, Raw.data(), Raw.size());
    ::shutdown(Fd, SHUT_WR);
    std::string Answer;
    char Buffer[4096];
    ssize_t N;
    while ((N = ::read(Fd, Buffer, sizeof Buffer)) > 0)
      Answer.append(Buffer, std::size_t(N));
    ::close(Fd);
    return Answer.substr(0, Answer.find("\r\n"));
  }

  fs::path Base, Models;
  std::string Mm1, Host;
  std::unique_ptr<TStudioServer> Server;
  std::thread Serving;
};

TEST_F(StudioServer, EveryRequestNeedsTheTokenAndTheLoopbackAsHostAndOrigin) {
  const std::string T = Server->Token();
  struct TCase {
    const char* What;
    httplib::Headers Headers;
    std::string Query;
    int Status;
  };
  const std::vector<TCase> Cases = {
      {"no token", {}, "", 403},
      {"a wrong token", {{"X-Studio-Token", T.substr(1) + "0"}}, "", 403},
      {"the token as a header", {{"X-Studio-Token", T}}, "", 200},
      {"the token in the query", {}, "?token=" + T, 200},
      {"a foreign Host (DNS rebinding)", {{"X-Studio-Token", T}, {"Host", "evil.example:80"}}, "", 403},
      {"the loopback Host on another port",
       {{"X-Studio-Token", T}, {"Host", "127.0.0.1:1"}}, "", 403},
      {"localhost", {{"X-Studio-Token", T}, {"Host", "localhost:" + std::to_string(Server->Port())}},
       "", 200},
      {"a foreign Origin", {{"X-Studio-Token", T}, {"Origin", "http://evil.example"}}, "", 403},
      {"Origin null", {{"X-Studio-Token", T}, {"Origin", "null"}}, "", 403},
      {"the studio's own Origin", {{"X-Studio-Token", T}, {"Origin", "http://" + Host}}, "", 200},
  };
  for (const TCase& C : Cases) {
    httplib::Client Client("127.0.0.1", Server->Port());
    auto R = Client.Get(("/api/files" + C.Query).c_str(), C.Headers);
    ASSERT_TRUE(R) << C.What;
    EXPECT_EQ(R->status, C.Status) << C.What;
    if (C.Status == 403) {
      EXPECT_EQ(R->body.find("mm1.qm"), std::string::npos) << C.What;
    }
  }
  // The page itself too.
  httplib::Client Client("127.0.0.1", Server->Port());
  EXPECT_EQ(Client.Get("/")->status, 403);
  auto Page = Client.Get(("/?token=" + T).c_str());
  EXPECT_EQ(Page->status, 200);
  EXPECT_NE(Page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);
}

TEST_F(StudioServer, NoPathOutsideTheModelsFolderIsReadOrWritten) {
  const std::vector<std::string> Refused = {
      "../secret.qm", "/etc/passwd",   "sub/../../secret.qm", "link.qm", "up/secret.qm",
      "notes.txt",    "sub/../mm1.qm", "",                    ".hidden.qm", "sub//a.qm",
      std::string("mm1.qm\0x", 8),   "a\\..\\b.qm"};
  for (const std::string& P : Refused) {
    EXPECT_EQ(Post("/api/open", json{{"path", P}}).Status, 403) << P;
    EXPECT_EQ(Post("/api/save", json{{"path", P}, {"text", "x"}, {"base", "none"}}).Status, 403)
        << P;
  }
  EXPECT_EQ(ReadFile(Base / "secret.qm"), "secret");
  EXPECT_EQ(fs::read_symlink(Models / "link.qm"), Base / "secret.qm");
  EXPECT_FALSE(fs::exists(Base / "x"));
  // Inside, subfolders included.
  EXPECT_EQ(Post("/api/open", json{{"path", "sub/a.qm"}}).Status, 200);
  const json Files = Get("/api/files").Body["files"];
  EXPECT_EQ(Files, json({"mm1.qm", "sub/a.qm"}));
}

TEST_F(StudioServer, LargeAndMalformedRequestsAreRefusedAndTheServerLivesOn) {
  struct TCase {
    const char* What;
    std::string Path, Body;
    int Status;
  };
  const std::vector<TCase> Cases = {
      {"a body over the limit", "/api/check", std::string(100 * 1024, ' '), 413},
      {"a model text over the limit", "/api/check",
       json{{"text", std::string(40 * 1024, '#')}}.dump(), 413},
      {"malformed JSON", "/api/open", "{\"path\": ", 400},
      {"JSON that is no object", "/api/open", "[1, 2]", 400},
      {"a field of the wrong type", "/api/open", "{\"path\": 7}", 400},
      {"a missing field", "/api/save", "{\"path\": \"mm1.qm\"}", 400},
      {"an edit of the wrong shape", "/api/edit", "{\"text\": \"\", \"edit\": 5}", 200},
      {"replications out of range", "/api/run",
       json{{"text", Mm1}, {"replications", -3}}.dump(), 400},
      {"an unknown address", "/api/nothing", "{}", 404},
  };
  for (const TCase& C : Cases) {
    const TAnswer A = Post(C.Path, C.Body);
    EXPECT_EQ(A.Status, C.Status) << C.What;
    EXPECT_TRUE(A.Body.is_object() && A.Body.contains("error")) << C.What << ": " << A.Body.dump();
    EXPECT_TRUE(Alive()) << C.What;
  }
  // Broken HTTP on a raw socket.
  for (const std::string& Raw :
       {std::string("GARBAGE\r\n\r\n"), std::string("GET / HTTP/1.1\r\nHost\r\n\r\n"),
        std::string("POST /api/check HTTP/1.1\r\nHost: ") + Host +
            "\r\nContent-Length: 99999999999999999999\r\n\r\n{}",
        std::string("GET /") + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n"}) {
    const std::string Status = RawRequest(Raw);
    EXPECT_TRUE(Status.find(" 4") != std::string::npos || Status.empty()) << Status;
    EXPECT_TRUE(Alive());
  }
}

TEST_F(StudioServer, SavesKeepBytesAndRefuseAStaleVersion) {
  const TAnswer Open = Post("/api/open", json{{"path", "mm1.qm"}});
  ASSERT_EQ(Open.Status, 200);
  const std::string Text = Open.Body["text"], Version = Open.Body["version"];
  EXPECT_EQ(Text, Mm1);
  // Saved without edits: the same bytes.
  const TAnswer Same = Post("/api/save", json{{"path", "mm1.qm"}, {"text", Text}, {"base", Version}});
  ASSERT_EQ(Same.Status, 200) << Same.Body.dump();
  EXPECT_EQ(ReadFile(Models / "mm1.qm"), Mm1);
  // A second tab saves an edit; the first tab's save from the old version
  // is then refused, and the second tab's edit stays.
  const TAnswer Edit = Post("/api/edit", json{{"text", Text},
                                              {"path", "mm1.qm"},
                                              {"edit", {{"op", "set"}, {"name", "Line"}, {"key", "Capacity"}, {"value", "9"}}}});
  ASSERT_TRUE(Edit.Body["ok"].get<bool>()) << Edit.Body.dump();
  const std::string Edited = Edit.Body["text"];
  const TAnswer Second =
      Post("/api/save", json{{"path", "mm1.qm"}, {"text", Edited}, {"base", Same.Body["version"]}});
  ASSERT_EQ(Second.Status, 200);
  const TAnswer Stale =
      Post("/api/save", json{{"path", "mm1.qm"}, {"text", Text + "# mine\n"}, {"base", Version}});
  EXPECT_EQ(Stale.Status, 409);
  EXPECT_NE(Stale.Body["error"].get<std::string>().find("changed on disk"), std::string::npos);
  EXPECT_EQ(ReadFile(Models / "mm1.qm"), Edited);
  // Save as: a new file needs base "none", and is not written over later
  // from "none".
  EXPECT_EQ(Post("/api/save", json{{"path", "sub/new.qm"}, {"text", Edited}, {"base", "none"}}).Status,
            200);
  EXPECT_EQ(ReadFile(Models / "sub" / "new.qm"), Edited);
  EXPECT_EQ(Post("/api/save", json{{"path", "sub/new.qm"}, {"text", "x"}, {"base", "none"}}).Status,
            409);
  // No temporary file is left beside the models.
  for (const auto& E : fs::directory_iterator(Models))
    EXPECT_NE(E.path().filename().string().rfind(".studio", 0), 0u) << E.path();
}

TEST_F(StudioServer, RunsGiveTheReportPageAndAModelThatDoesNotEndIsStopped) {
  const auto Wait = [this](int Id) {
    json S;
    for (int i = 0; i < 600; ++i) {
      S = Get("/api/run?id=" + std::to_string(Id)).Body;
      if (S["state"] != "running") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return S;
  };
  const TAnswer Run =
      Post("/api/run", json{{"text", Mm1}, {"path", "mm1.qm"}, {"replications", 2}, {"jobs", 2}});
  ASSERT_EQ(Run.Status, 200) << Run.Body.dump();
  const json Done = Wait(Run.Body["id"]);
  EXPECT_EQ(Done["state"], "done") << Done.dump();
  EXPECT_EQ(Done["done"], 2);
  EXPECT_NE(Done["output"].get<std::string>().find("2 replications"), std::string::npos);
  httplib::Client C("127.0.0.1", Server->Port());
  auto Page = C.Get(("/report?id=" + std::to_string(Run.Body["id"].get<int>()) +
                     "&token=" + Server->Token())
                        .c_str());
  ASSERT_TRUE(Page);
  EXPECT_EQ(Page->status, 200);
  EXPECT_NE(Page->body.find("replications"), std::string::npos);

  // Far too long a run: stopped, and the server answers on.
  std::string Long = Mm1;
  Long.replace(Long.find("Until = 201000"), 14, "Until = 9000000000");
  const TAnswer Endless = Post("/api/run", json{{"text", Long}, {"path", "mm1.qm"}});
  ASSERT_EQ(Endless.Status, 200);
  EXPECT_EQ(Post("/api/run", json{{"text", Long}, {"path", "mm1.qm"}}).Status, 409); // one at a time
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Post("/api/stop", json{{"id", Endless.Body["id"]}}).Body["stopped"].get<bool>());
  EXPECT_EQ(Wait(Endless.Body["id"])["state"], "stopped");
  EXPECT_TRUE(Alive());
  // The run's copy of the model is gone.
  for (const auto& E : fs::directory_iterator(Models))
    EXPECT_NE(E.path().filename().string().rfind(".studio", 0), 0u) << E.path();
  // A model with errors does not run.
  EXPECT_EQ(Post("/api/run", json{{"text", "object Form: TNothing end\n"}}).Status, 409);
}

} // namespace
