// The expression evaluator and the text expansion as a run uses them: a typical condition of a
// component (a file test with a folder variable and a feature test) and a destination path built
// from five variables, against a database with the predefined folder variables and a project's
// worth of its own. Runs on a machine root of its own, removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "database/KXClasses.h"
#include "expressions/Evaluator.h"
#include "os/host/HostPaths.h"

namespace {

class BenchmarkProject {
 public:
  BenchmarkProject() : root_("/tmp/kx-expression-benchmark-" + std::to_string(getpid())) {
    setenv("KX_ROOT", root_.c_str(), 1);
    os::host::ResetMachineRoot();
    AddFolderVariables(database);
    for (int i = 0; i < 30; ++i) {
      SetVariable(&database, "ProjectSetting" + std::to_string(i), "value " + std::to_string(i));
    }
    SetVariable(&database, "Company", "Vendor");
    SetVariable(&database, "AppName", "Product");
    SetVariable(&database, "Version", "4.2");
    SetVariable(&database, "SubDir", "bin");
    database.Features->AddNew().ID = "Extras";
    SelectFeature(database, "Extras", true);
  }
  ~BenchmarkProject() { std::filesystem::remove_all(root_); }

  TkxMainDatabase database;

 private:
  std::string root_;
};

BenchmarkProject& Project() {
  static BenchmarkProject project;
  return project;
}

void BM_EvaluateTypicalCondition(benchmark::State& state) {
  TkxEvaluator evaluator(Project().database);
  const std::string condition =
      "FileExists(\"%System%\\kxbench.dll\") and not FeatureEnabled(Extras)";
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluator.CalcExpression(condition));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateTypicalCondition);

void BM_ExpandPathWithFiveVariables(benchmark::State& state) {
  TkxMainDatabase& database = Project().database;
  const std::string path = "%ProgramFiles%\\%Company%\\%AppName%\\%Version%\\%SubDir%\\app.exe";
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExpandText(&database, path));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExpandPathWithFiveVariables);

}  // namespace
