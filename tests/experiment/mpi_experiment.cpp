// Runs the same experiment over MPI ranks and, on rank 0, locally in two
// worker processes, and compares them replication by replication, bit for
// bit. Replication 5 aborts: both runs must report it and keep the others.
#include <mpi.h>

#include <cstdlib>
#include <iostream>

#include "mm1_model.h"

using namespace quorin;

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int Rank = 0, Ranks = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &Rank);
  MPI_Comm_size(MPI_COMM_WORLD, &Ranks);
  TExperiment E = test::MM1Experiment(8, 1);
  E.Build = [](TReplicationContext& C) {
    TModel* Model = test::BuildMM1(C);
    if (C.Number == 5) std::abort();
    return Model;
  };
  const TExperimentResult Distributed = RunExperimentMpi(E);
  int Failures = 0;
  if (Rank == 0) {
    E.Jobs = 2;
    const TExperimentResult Local = RunExperiment(E);
    PrintExperiment(Distributed, std::cout);
    auto Check = [&](bool Ok, const std::string& What) {
      if (!Ok) {
        std::cout << "MISMATCH: " << What << '\n';
        ++Failures;
      }
    };
    Check(Ranks == 2, "expected 2 ranks, got " + std::to_string(Ranks));
    Check(Distributed.Replications.size() == 8, "8 replications");
    Check(Distributed.Replications.size() == Local.Replications.size(), "as many as locally");
    for (size_t i = 0; i < Distributed.Replications.size() && i < Local.Replications.size(); ++i) {
      const auto& D = Distributed.Replications[i];
      const auto& L = Local.Replications[i];
      const std::string N = "replication " + std::to_string(i);
      Check(D.Number == L.Number && D.Ok == L.Ok && D.Error == L.Error, N + " outcome");
      Check(D.Seeds == L.Seeds && D.Draws == L.Draws, N + " streams");
      Check(D.Values == L.Values, N + " values");
    }
    Check(Distributed.Failed == 1, "one failed replication");
    std::cout << (Failures ? "MPI run differs from the local run\n"
                           : "MPI run equals the local run\n");
  }
  MPI_Bcast(&Failures, 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Finalize();
  return Failures ? 1 : 0;
}
