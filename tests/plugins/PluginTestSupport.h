// What the plug-in host's tests share: a handle on a test plug-in's own exports (the same file
// as the host loads, so the same state), and a fixture that starts every test with a fresh run
// and no plug-in loaded.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "expressions/Common.h"
#include "kxplugin.h"
#include "os/os.h"
#include "plugins/KXPlugins.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"

// The folder of the test plug-ins, with a trailing backslash.
inline const std::string kPluginDir = KX_TEST_PLUGIN_DIR;

class PluginControl {
 public:
  explicit PluginControl(const std::string& path) : library_(os::Library::Load(path)) {
    if (library_.IsLoaded()) Reset();
  }

  // Forgets the events and answers of earlier tests and of the load.
  void Reset() const { Export<void (*)()>("TestReset")(); }

  std::string Log() const { return Export<const char* (*)()>("TestLog")(); }
  // How often the event of that name is in the log.
  int EventCount(const std::string& event) const {
    const std::string log = Log();
    int count = 0;
    for (size_t at = log.find(event + " "); at != std::string::npos;
         at = log.find(event + " ", at + 1)) {
      ++count;
    }
    return count;
  }
  // probe answers 1 on the thread the test expects events on.
  void SetThreadProbe(int (*probe)()) const {
    Export<void (*)(int (*)())>("TestSetThreadProbe")(probe);
  }
  bool LastEventOnMarkedThread() const {
    return Export<int (*)()>("TestLastEventOnMarkedThread")() == 1;
  }
  void Answer(int32_t event, kx_ptr answer) const {
    Export<void (*)(int32_t, kx_ptr)>("TestAnswer")(event, answer);
  }
  void PackageFolder(const std::string& folder) const {
    Export<void (*)(const char*)>("TestPackageFolder")(folder.c_str());
  }
  int32_t Number() const { return Export<int32_t (*)()>("TestNumber")(); }
  std::string ConfigFile() const { return Export<const char* (*)()>("TestConfigFile")(); }
  // The command entry as the plug-in calls it, with its own number as sender.
  kx_ptr Command(int32_t number, kx_ptr first = 0, kx_ptr second = 0, bool toAll = false) const {
    return Export<kx_ptr (*)(int32_t, kx_ptr, kx_ptr, int32_t)>("TestCommand")(number, first,
                                                                               second, toAll);
  }
  kx_ptr Named(const char* name, kx_ptr first, kx_ptr second, bool toAll) const {
    return Export<kx_ptr (*)(const char*, kx_ptr, kx_ptr, int32_t)>("TestNamedCommand")(
        name, first, second, toAll);
  }
  int32_t MessageCode(const char* name) const {
    return Export<int32_t (*)(const char*)>("TestMessageCode")(name);
  }

 private:
  template <class Function>
  Function Export(const char* name) const {
    void* address = library_.Symbol(name);
    if (!address) throw std::runtime_error(std::string("test plug-in lacks ") + name);
    return reinterpret_cast<Function>(address);
  }

  os::Library library_;
};

inline kx_ptr TextParameter(const std::string& text) {
  return reinterpret_cast<kx_ptr>(text.c_str());
}

class PluginHostTest : public testing::Test {
 protected:
  void SetUp() override {
    UnloadPlugins();
    ResetRunState();
    FreeRunObjects();
    ConditionsEnabled = true;
  }
  void TearDown() override {
    UnloadPlugins();
    FreeRunObjects();
    ConditionsEnabled = false;
  }

  // Package 0 of a fresh main database, its temporary folder in scratch, with these plug-in
  // entries; other lists of the project go in before the packages.
  TkxPackage& MakePackage(const std::string& pluginEntries, const std::string& project = "") {
    TXMLTag tag;
    tag.Parse("<kx2project>" + project + "<packages><package filename=\"setup.exe\" temppath=\"" +
              TempPath() + "\"><plugins>" + pluginEntries +
              "</plugins></package></packages></kx2project>");
    MainDatabase().Assign(tag);
    return *MainDatabase().Packages->Items(0);
  }
  std::string TempPath() const { return scratch_.Path() + "temp\\"; }
  // Copies a test plug-in into the package's folder plugins\<index>\.
  std::string CopyIntoPackage(const std::string& file, int index) {
    const std::string folder = TempPath() + "plugins\\" + std::to_string(index) + "\\";
    EXPECT_TRUE(ForceFolders(folder));
    EXPECT_TRUE(WriteFileText(folder + file, ReadFileText(kPluginDir + file)));
    return folder + file;
  }
  static std::string DebugEntry(const std::string& id, const std::string& file,
                                const std::string& more = "") {
    return "<plugin id=\"" + id + "\" debugdll=\"" + kPluginDir + file + "\" " + more + "/>";
  }

  ScratchFolder scratch_{CurrentTestName()};
};

// Loads alpha, beta and gamma (numbers 1, 2, 3) from the test folder.
class ThreePluginsTest : public PluginHostTest {
 protected:
  void SetUp() override {
    PluginHostTest::SetUp();
    TkxPackage& package =
        MakePackage(DebugEntry("alpha", "alpha.dll") + DebugEntry("beta", "beta.dll") +
                        DebugEntry("gamma", "gamma.dll"),
                    Project());
    ASSERT_TRUE(LoadPlugins(package));
    ASSERT_EQ(Plugins().Count(), 3);
    for (const PluginControl* control : {&alpha_, &beta_, &gamma_}) control->Reset();
  }
  // Lists of the project besides the packages.
  virtual std::string Project() const { return ""; }

  PluginControl alpha_{kPluginDir + "alpha.dll"};
  PluginControl beta_{kPluginDir + "beta.dll"};
  PluginControl gamma_{kPluginDir + "gamma.dll"};
};
