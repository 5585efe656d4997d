// `quorin studio [FILE]`: a web server on the loopback address that serves
// the model editor page and its requests. It answers only requests that
// carry its token and name the loopback address as Host (and Origin, when
// a browser sends one), and touches only model files in the folder of the
// model it was started with.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quorin::studio {

struct TStudioOptions {
  // The model file; it need not exist yet (the editor starts empty). Its
  // folder is the one the studio may read and write. Empty: a new model in
  // the current folder.
  std::string File;
  int Port = 0;            // 0: a free port
  std::string Token;       // empty: a random one
  std::string Program;     // the quorin command that runs models; empty: this program
  std::size_t MaxBody = 2u << 20;  // bytes of a request body
  std::size_t MaxModel = 1u << 20; // bytes of a model file or text
};

class TStudioServer {
public:
  explicit TStudioServer(TStudioOptions Options);
  ~TStudioServer();
  TStudioServer(const TStudioServer&) = delete;
  TStudioServer& operator=(const TStudioServer&) = delete;

  // Binds the port on 127.0.0.1; false with Error when it cannot.
  bool Bind(std::string& Error);
  int Port() const;
  const std::string& Token() const;
  // The page's address with the token: http://127.0.0.1:PORT/?token=...
  std::string Address() const;
  // Serves until Stop (from another thread) is called.
  void Serve();
  void Stop();

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// The command: prints the address, asks the desktop to open it when Open,
// and serves until interrupted (SIGINT, SIGTERM). Answers the exit status.
int StudioMain(const TStudioOptions& Options, bool Open);

} // namespace quorin::studio
