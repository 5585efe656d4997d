// Runs of the studio: `quorin run` of the model in a process of its own, so
// that a run is exactly what the command gives, a model that does not end
// can be stopped, and nothing a run does can take the server down. One run
// at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorin::studio {

struct TRunRequest {
  std::string ModelPath;   // the text to run, written to a file for the command
  std::string ShownName;   // the model's name in messages
  int32_t Replications = 0; // 0 or 1: a single run
  int32_t Jobs = 1;
  int64_t Seed = 0; // 0: the file's seeds
};

struct TRunState {
  int32_t Id = 0;
  std::string State = "none"; // running, done, failed, stopped
  int32_t Done = 0, Total = 0;
  double Seconds = 0;
  std::string Output;   // the report as text
  std::string Messages; // what the command said on standard error
  bool HasPage = false;
};

class TRuns {
public:
  // Program is the quorin command; Scratch a private folder for the
  // runs' output.
  TRuns(std::string Program, std::string Scratch);
  ~TRuns();
  TRuns(const TRuns&) = delete;
  TRuns& operator=(const TRuns&) = delete;

  // Starts a run; answers its id, or 0 with Error.
  int32_t Start(const TRunRequest& Request, std::string& Error);
  TRunState State(int32_t Id);
  // Stops the run under way (its process group); false when none runs.
  bool Stop(int32_t Id);
  // The page the run wrote, when it is the last run and done.
  std::string PagePath(int32_t Id);

private:
  void Watch(int32_t Id, pid_t Child, int Pty, std::string ModelPath, double Started);
  std::string FProgram, FScratch;
  std::mutex FMutex;
  TRunState FLast;
  pid_t FChild = 0;
  bool FStopping = false;
  std::thread FWatcher;
};

} // namespace quorin::studio
