// The XML reader and writer on a generated package database of a few megabytes (1,000
// components, 20,000 file items, comments and escaped values): parse throughput beside pugixml
// on the same text, and the writer's throughput. Bytes per second are those of the text read
// or written.
#include <benchmark/benchmark.h>

#include <string>

#include "database/zrXMLParser.h"

#if KX_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

constexpr int kComponents = 1000;
constexpr int kFilesPerComponent = 20;

std::string Attribute(const std::string& name, const std::string& value) {
  return " " + name + "=\"" + value + "\"";
}

std::string GeneratedDatabase() {
  std::string text = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
  text += "<kx2project version=\"2.1.7\" name=\"Vendor &#x26; Sons Suite\">\r\n";
  text += "\t<!-- generated for the benchmark -->\r\n\t<components>\r\n";
  for (int c = 0; c < kComponents; ++c) {
    const std::string id = "component" + std::to_string(c);
    text += "\t\t<component" + Attribute("id", id) + Attribute("name", "Component &#x23;" + id) +
            Attribute("package", "data" + std::to_string(c % 7) + ".pak") +
            Attribute("condition", "OSVersion() &#x3C; 6") + ">\r\n\t\t\t<files>\r\n";
    for (int f = 0; f < kFilesPerComponent; ++f) {
      const std::string name = "file" + std::to_string(c * kFilesPerComponent + f) + ".dll";
      text += "\t\t\t\t<file" + Attribute("src", "bin\\" + id + "\\" + name) +
              Attribute("dst", "%INSTALLDIR%\\" + id + "\\" + name) +
              Attribute("size", std::to_string(1000 + f * 4096)) +
              Attribute("flags", "shared,reg_server,no_version") +
              Attribute("version", "1.2." + std::to_string(f) + ".0") + "/>\r\n";
    }
    text += "\t\t\t</files>\r\n\t\t\t<description>Files of " + id + " and their\r\n" +
            "\t\t\t\tregistration</description>\r\n\t\t</component>\r\n";
  }
  text += "\t</components>\r\n</kx2project>\r\n";
  return text;
}

const std::string& Database() {
  static const std::string text = GeneratedDatabase();
  return text;
}

void UseProgramSettings() {
  XMLSettings() = TXMLSettings();
  XMLSettings().KeepValueSpaces = true;  // as the program runs
}

void BM_XmlParse(benchmark::State& state) {
  UseProgramSettings();
  const std::string& text = Database();
  for (auto _ : state) {
    TXMLTag tag;
    tag.Parse(text);
    benchmark::DoNotOptimize(tag.Children.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_XmlParse)->Unit(benchmark::kMillisecond);

void BM_XmlGetXML(benchmark::State& state) {
  UseProgramSettings();
  TXMLTag tag;
  tag.Parse(Database());
  size_t written = 0;
  for (auto _ : state) {
    std::string xml = tag.GetXML();
    written = xml.size();
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written));
}
BENCHMARK(BM_XmlGetXML)->Unit(benchmark::kMillisecond);

#if KX_HAVE_PUGIXML
void BM_PugiLoadBuffer(benchmark::State& state) {
  const std::string& text = Database();
  for (auto _ : state) {
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size());
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_PugiLoadBuffer)->Unit(benchmark::kMillisecond);

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

void BM_PugiSave(benchmark::State& state) {
  pugi::xml_document doc;
  doc.load_buffer(Database().data(), Database().size());
  size_t written = 0;
  for (auto _ : state) {
    StringWriter writer;
    doc.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    written = writer.text.size();
    benchmark::DoNotOptimize(writer.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written));
}
BENCHMARK(BM_PugiSave)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
