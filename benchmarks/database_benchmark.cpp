// The project database at package scale: a generated package database of 1,000 components with
// 20 files each (20,000 file items), read into the schema classes and written back.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "database/KXClasses.h"
#include "database/zrXMLParser.h"

namespace {

constexpr int kComponents = 1000;
constexpr int kFilesPerComponent = 20;

// The text of a package database as a vendor's build would write it.
const std::string& PackageText() {
  static const std::string text = [] {
    std::string out =
        "<package filename=\"data1.pak\" datasize=\"123456789\">\r\n\t<components>\r\n";
    for (int c = 0; c < kComponents; ++c) {
      std::string id = "component" + std::to_string(c);
      out += "\t\t<component id=\"" + id + "\" name=\"Component " + std::to_string(c) +
             "\" condition=\"IsAdmin()\">\r\n\t\t\t<files>\r\n";
      for (int f = 0; f < kFilesPerComponent; ++f) {
        std::string name = id + "\\file" + std::to_string(f) + ".dll";
        out += "\t\t\t\t<file src=\"" + name + "\" dst=\"%INSTALLDIR%\\" + name + "\"" +
               (f % 4 == 0 ? " flags=\"reg_server,shared\"" : "") + "/>\r\n";
      }
      out += "\t\t\t</files>\r\n\t\t\t<registry>\r\n\t\t\t\t<reg key=\"HKLM\\Software\\Vendor\\" +
             id + "\" param=\"Installed\" value=\"1\" type=\"int\"/>\r\n\t\t\t</registry>\r\n" +
             "\t\t</component>\r\n";
    }
    return out + "\t</components>\r\n</package>\r\n";
  }();
  return text;
}

void BM_ParseAndLoadPackage(benchmark::State& state) {
  const std::string& text = PackageText();
  for (auto _ : state) {
    TXMLTag root;
    root.Parse(text);
    TkxPackage package;
    package.Assign(root);
    benchmark::DoNotOptimize(package.Components->Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseAndLoadPackage)->Unit(benchmark::kMillisecond);

// The binding's share: loading from a tree that is already parsed.
void BM_LoadPackageFromTree(benchmark::State& state) {
  TXMLTag root;
  root.Parse(PackageText());
  for (auto _ : state) {
    TkxPackage package;
    package.Assign(root);
    benchmark::DoNotOptimize(package.Components->Count());
  }
}
BENCHMARK(BM_LoadPackageFromTree)->Unit(benchmark::kMillisecond);

void BM_SavePackage(benchmark::State& state) {
  TXMLTag input;
  input.Parse(PackageText());
  TkxPackage package;
  package.Assign(input);
  size_t bytes = 0;
  for (auto _ : state) {
    TXMLTag root;
    root.SetName("package");
    package.AssignTo(root);
    std::string text = root.GetXML();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_SavePackage)->Unit(benchmark::kMillisecond);

// The binding's share of saving: objects to a tree, without the text.
void BM_SavePackageToTree(benchmark::State& state) {
  TXMLTag input;
  input.Parse(PackageText());
  TkxPackage package;
  package.Assign(input);
  for (auto _ : state) {
    TXMLTag root;
    root.SetName("package");
    package.AssignTo(root);
    benchmark::DoNotOptimize(root.Children.Count());
  }
}
BENCHMARK(BM_SavePackageToTree)->Unit(benchmark::kMillisecond);

}  // namespace
